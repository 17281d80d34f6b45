#!/usr/bin/env bash
# The first command of the README: installs what is missing, builds the demo,
# the content generator and the capture tool with the default preset, makes
# the default content (build/content/scene.2vef and Sound.mp3) unless it is
# there and up to date, and plays the demo from that folder. Without a display
# it plays under Xvfb, silently, and ends by itself. The demo's exit code is
# this script's.
set -euo pipefail
cd "$(dirname "$0")"

scripts/setup.sh
cmake --preset default >/dev/null
CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)} \
  cmake --build --preset default --target demo demogen democapture vefexport

content=build/content
generator=build/tools/demogen/demogen
if [ ! -f "$content/scene.2vef" ] || [ ! -f "$content/Sound.mp3" ] ||
   [ "$generator" -nt "$content/scene.2vef" ] || [ "$generator" -nt "$content/Sound.mp3" ]; then
  "$generator" "$content"
fi

cd "$content"
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec ../src/demo
fi
echo "demo.sh: no display; playing under Xvfb (no picture, no sound; it ends by itself)" >&2
# No sound either: the music still drives the clock, through SDL's silent
# output, without the sound system's complaints about a missing card.
export SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-dummy}
exec xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" ../src/demo
