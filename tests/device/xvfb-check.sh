#!/usr/bin/env bash
# The demo on a virtual X display: shows the scene fullscreen (a screenshot is
# taken mid-run), ends on Escape sent by xdotool with exit code 0, and ends on
# a close request (WM_DELETE_WINDOW, as from the close button) with exit code 0.
#
# Usage: tests/device/xvfb-check.sh <demo binary> <folder with scene.2vef and
#        Sound.mp3> <output folder for the screenshots>
set -uo pipefail
demo=$(realpath "$1")
content=$(realpath "$2")
out=$(realpath -m "$3")
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$out"

display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null' EXIT
export DISPLAY=$display SDL_AUDIODRIVER=dummy
sleep 1

gcc -O1 -o "$out/xclose" "$here/xclose.c" -lX11 || exit 1

# Waits for the demo's window; prints its id.
find_window() {
  for _ in $(seq 50); do
    id=$(xdotool search --name "Brisolo - Wir kommen!" 2>/dev/null | head -1)
    if [ -n "$id" ]; then echo "$id"; return 0; fi
    sleep 0.2
  done
  return 1
}

failed=0

# 1. Screenshot mid-run, then Escape.
start=$(date +%s.%N)
(cd "$content" && exec "$demo") 2>"$out/escape-run.log" &
pid=$!
window=$(find_window) || { echo "xvfb-check: no demo window" >&2; kill $pid; exit 1; }
sleep 2.5
import -window root "$out/mid-run.png"
xdotool windowactivate --sync "$window" 2>/dev/null || xdotool windowfocus "$window"
xdotool keydown Escape; sleep 0.3; xdotool keyup Escape
wait $pid
code=$?
elapsed=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.2f", b - a }')
echo "xvfb-check: Escape -> exit code $code after ${elapsed} s (screenshot $out/mid-run.png)"
[ "$code" -eq 0 ] || failed=1

# 2. A close request from the desktop.
start=$(date +%s.%N)
(cd "$content" && exec "$demo") 2>"$out/close-run.log" &
pid=$!
window=$(find_window) || { echo "xvfb-check: no demo window" >&2; kill $pid; exit 1; }
sleep 1.5
"$out/xclose" "$window"
wait $pid
code=$?
elapsed=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.2f", b - a }')
echo "xvfb-check: close request -> exit code $code after ${elapsed} s of a $(basename "$content") run"
[ "$code" -eq 0 ] || failed=1
exit $failed
