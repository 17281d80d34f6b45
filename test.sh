#!/usr/bin/env bash
# Builds and runs every test: the normal build, then the same suites under
# AddressSanitizer and UndefinedBehaviorSanitizer, and the graphics tests under
# ThreadSanitizer.  ./test.sh --fast skips the sanitizer passes.
set -euo pipefail
cd "$(dirname "$0")"
scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default
ctest --preset default
if [ "${1:-}" != "--fast" ]; then
  cmake --preset asan >/dev/null
  cmake --build --preset asan
  ctest --preset asan
  # ThreadSanitizer on the device's drawing threads: only the graphics tests.
  cmake --preset tsan >/dev/null
  cmake --build --preset tsan
  ctest --preset tsan
fi
