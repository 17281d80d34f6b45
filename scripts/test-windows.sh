#!/usr/bin/env bash
# The Windows build and its tests under Wine: demo.exe, bass.dll and the
# tools cross-compiled with mingw-w64 into build-windows/, then played and
# compared with the Linux build (which makes the content and the reference
# frames and scene files: it is configured and built here if it is not yet).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --windows
[ -f build/CMakeCache.txt ] || cmake --preset default >/dev/null
cmake --preset windows >/dev/null
cmake --build --preset windows
ctest --preset windows
