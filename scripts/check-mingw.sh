#!/usr/bin/env bash
# Syntax-only compile of the demo's own code (src/) against the real Windows
# SDK headers of mingw-w64. Of our platform headers only bass.h is used: the
# audio library ships no SDK header. Proves that src/ codes against the SDK's
# names and signatures, not against something only our stand-in offers.
set -euo pipefail
cd "$(dirname "$0")/.."

compiler=x86_64-w64-mingw32-g++
if ! command -v "$compiler" >/dev/null; then
  echo "check-mingw: $compiler not found (Debian package g++-mingw-w64-x86-64)" >&2
  exit 1
fi

include_dir=$(mktemp -d)
trap 'rm -rf "$include_dir"' EXIT
cp platform/include/bass.h "$include_dir/"

status=0
count=0
while IFS= read -r -d '' file; do
  count=$((count + 1))
  if ! "$compiler" -std=c++17 -fsyntax-only -Wall -Wextra -DDIRECTINPUT_VERSION=0x0700 \
      -I"$include_dir" -Isrc -Isrc/3d -Isrc/DirectX "$file"; then
    echo "check-mingw: $file does not compile against the Windows SDK" >&2
    status=1
  fi
done < <(find src -name '*.cpp' -print0 | sort -z)

if [ "$status" -eq 0 ]; then
  echo "check-mingw: $count files of src/ compile against the Windows SDK headers"
fi
exit "$status"
