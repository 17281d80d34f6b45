#!/usr/bin/env bash
# usage: scripts/web-pack.sh CONTENT_DIR OUT_DIR
# Makes a static web site that plays the demo with the content of CONTENT_DIR
# (scene.2vef and Sound.mp3): index.html, page.js, demo.js, demo.wasm, the
# threaded program in threads/ (demo.js, demo.worker.js, demo.wasm) and the two
# content files, all in OUT_DIR. Any static web server can serve it; one that
# sends the cross-origin isolation headers (scripts/web-serve.py) lets the
# page draw on every core. The page reads the content from its own folder.
# Builds the web and web-threads presets (build-web/, build-web-threads/,
# emscripten) first when needed.
set -euo pipefail
if [ $# -ne 2 ]; then
  echo "usage: $0 CONTENT_DIR OUT_DIR" >&2
  exit 2
fi
repo=$(cd "$(dirname "$0")/.." && pwd)
content=$1 out=$2
for f in scene.2vef Sound.mp3; do
  if [ ! -f "$content/$f" ]; then
    echo "web-pack: $content/$f: no such file (a content folder holds scene.2vef and Sound.mp3)" >&2
    exit 1
  fi
done

export NODE_PATH=${NODE_PATH:-/usr/share/nodejs}  # emcc's optimizer needs Debian's acorn
for preset in web web-threads; do
  if [ ! -f "$repo/build-$preset/CMakeCache.txt" ]; then
    (cd "$repo" && cmake --preset $preset >/dev/null)
  fi
  cmake --build "$repo/build-$preset" --target demo web_page >/dev/null
done
site=$repo/build-web/src threads=$repo/build-web-threads/src

# Write into a fresh folder beside OUT_DIR and move it in place at the end, so
# that a failed run never leaves a half-made site.
mkdir -p "$(dirname "$out")"
tmp=$(mktemp -d "$(dirname "$out")/.web-pack.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
cp "$site/index.html" "$site/page.js" "$site/demo.js" "$site/demo.wasm" "$tmp/"
mkdir "$tmp/threads"
cp "$threads/demo.js" "$threads/demo.worker.js" "$threads/demo.wasm" "$tmp/threads/"
cp "$content/scene.2vef" "$content/Sound.mp3" "$tmp/"
chmod 755 "$tmp" "$tmp/threads"
rm -rf "$out"
mv "$tmp" "$out"
trap - EXIT
echo "web-pack: the site is in $out; try it with: scripts/web-serve.py $out (every core)," \
  "or python3 -m http.server -b 127.0.0.1 -d $out 8000 (one thread)"
