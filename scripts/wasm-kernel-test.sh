#!/usr/bin/env bash
# The rasterizer's 128-bit kernel in WebAssembly SIMD draws the reference
# kernel's bits: builds tests/kernels/raster_identity.cpp with the kernels for
# WebAssembly (emcc, -msimd128), runs it under Node.js on the recorded streams
# and the fixed-seed random triangles, and, given the native build of the same
# program, checks that both builds draw the same pictures (the reference
# kernel's hash of each case in WebAssembly equals the native one).
#
# usage: scripts/wasm-kernel-test.sh [NATIVE_RASTER_IDENTITY]
# Exit 0: identical; 1: a difference or a build failure; 77: emcc or node
# missing (skipped, with the reason on stderr).
set -euo pipefail
cd "$(dirname "$0")/.."

for tool in emcc node; do
  if ! command -v "$tool" >/dev/null; then
    echo "wasm-kernel-test: SKIPPED: $tool not found (Debian packages emscripten and nodejs)" >&2
    exit 77
  fi
done
# Debian's emcc runs its JavaScript optimizer on the system node, which does
# not see Debian's acorn without this.
export NODE_PATH=${NODE_PATH:-/usr/share/nodejs}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# One file (the module embedded): the 3.1.6 loader's fetch of a separate
# .wasm fails on newer Node.js. NODERAWFS reads the streams from disk.
if ! emcc -std=c++17 -O2 -msimd128 -msse2 -ffp-contract=off -Iplatform/src -Itests/common \
    platform/src/raster/Raster.cpp platform/src/raster/Reference.cpp platform/src/raster/FastSimd128.cpp \
    platform/src/raster/FastAvx2.cpp platform/src/raster/FastAvx512.cpp platform/src/raster/TriangleStream.cpp \
    tests/kernels/raster_identity.cpp \
    -sENVIRONMENT=node -sNODERAWFS=1 -sALLOW_MEMORY_GROWTH=1 -sSINGLE_FILE=1 \
    -o "$work/raster_identity.js" 2>"$work/emcc.log"; then
  echo "wasm-kernel-test: emcc failed:" >&2
  cut -c1-400 "$work/emcc.log" >&2
  exit 1
fi

streams=(tests/data/streams/small.trs tests/data/streams/large.trs tests/data/streams/mixed.trs)
status=0
node "$work/raster_identity.js" "${streams[@]}" >"$work/wasm.txt" || status=$?
cat "$work/wasm.txt"
if [ "$status" -ne 0 ]; then
  echo "wasm-kernel-test: FAILED: a kernel differs from the reference in WebAssembly (exit $status)" >&2
  exit 1
fi
if ! grep -q ' simd128 ' "$work/wasm.txt"; then
  echo "wasm-kernel-test: FAILED: the WebAssembly build did not run the 128-bit kernel" >&2
  exit 1
fi

if [ $# -ge 1 ]; then
  "$1" "${streams[@]}" >"$work/native.txt" || { echo "wasm-kernel-test: FAILED: the native build differs" >&2; exit 1; }
  # Each case's reference hash, native and WebAssembly.
  if ! diff <(awk '$2 == "reference"' "$work/native.txt") <(awk '$2 == "reference"' "$work/wasm.txt") >&2; then
    echo "wasm-kernel-test: FAILED: WebAssembly draws other pictures than the native build" >&2
    exit 1
  fi
  echo "wasm-kernel-test: the WebAssembly and native builds draw the same $(grep -c ' reference ' "$work/wasm.txt") pictures"
fi
echo "wasm-kernel-test: passed"
