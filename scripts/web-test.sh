#!/usr/bin/env bash
# The web build and its browser test: builds the web presets (build-web/ and
# build-web-threads/), packs the default content into a site, and runs
# tests/web/browser_test.py in headless Chromium against the desktop build's
# democapture and demo (the default preset, built here if needed). A second
# site has a four-second music file, so that playing to the end takes seconds.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --web
export NODE_PATH=${NODE_PATH:-/usr/share/nodejs}  # emcc's optimizer needs Debian's acorn
cmake --preset default >/dev/null
cmake --build --preset default --target demo demogen democapture raster_identity
# The 128-bit kernel in WebAssembly SIMD under Node.js draws the native build's bits.
scripts/wasm-kernel-test.sh build/tests/raster_identity
content=build/content
if [ ! -f "$content/scene.2vef" ] || [ ! -f "$content/Sound.mp3" ]; then
  build/tools/demogen/demogen "$content"
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
scripts/web-pack.sh "$content" "$work/site"
mkdir "$work/short"
cp "$content/scene.2vef" "$work/short/"
ffmpeg -loglevel error -f lavfi -i "sine=frequency=440:duration=4:sample_rate=44100" -ac 2 -b:a 96k \
  "$work/short/Sound.mp3"
scripts/web-pack.sh "$work/short" "$work/short-site"
/usr/bin/python3 tests/web/browser_test.py --site "$work/site" --short-site "$work/short-site" \
  --democapture build/tools/democapture/democapture --demo build/src/demo --content "$content"
