#!/usr/bin/env bash
# Installs a build into an empty staging folder and checks what lands there:
# the programs, the desktop entry, the icon and the manual pages; then runs
# the installed demogen and demo (headless) from outside the build tree.
#   scripts/check-install.sh <build folder> <staging folder>
set -euo pipefail
build=$(realpath "$1")
stage=$(realpath -m "$2")
rm -rf "$stage"
cmake --install "$build" --prefix "$stage/usr/local" >/dev/null
cd "$stage"
find . -type f | sort
status=0
for f in usr/local/bin/demo usr/local/bin/demogen usr/local/bin/vefdump usr/local/bin/democapture \
         usr/local/share/applications/demo.desktop \
         usr/local/share/icons/hicolor/256x256/apps/demo.png \
         usr/local/share/man/man1/demo.1 usr/local/share/man/man1/demogen.1; do
  [ -f "$f" ] || { echo "check-install: $f is missing" >&2; status=1; }
done
[ "$(identify -format %wx%h usr/local/share/icons/hicolor/256x256/apps/demo.png)" = 256x256 ] ||
  { echo "check-install: the icon is not a 256 x 256 picture" >&2; status=1; }
grep -q '^Exec=.*demo' usr/local/share/applications/demo.desktop ||
  { echo "check-install: the desktop entry starts no demo" >&2; status=1; }
# Every installed program has a manual page.
for p in usr/local/bin/*; do
  [ -f "usr/local/share/man/man1/$(basename "$p").1" ] ||
    { echo "check-install: no manual page for $(basename "$p")" >&2; status=1; }
done

# The installed programs on their own: short content, played to its end.
usr/local/bin/demogen --bars 2 content >/dev/null
errors=$(SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy usr/local/bin/demo content 2>&1 >/dev/null) ||
  { echo "check-install: the installed demo failed: $errors" >&2; status=1; }
[ -z "$errors" ] || { echo "check-install: the installed demo printed: $errors" >&2; status=1; }
exit $status
