#!/usr/bin/env bash
# The demo on a virtual X display: shows the scene fullscreen (a screenshot is
# taken mid-run), goes on in a window and back after Alt+Enter, ends on Escape sent by xdotool with exit code 0, and ends on
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

# Xvfb picks a free display number itself and writes it once it is ready.
ready=$(mktemp)
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$ready" >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null; rm -f "$ready"' EXIT
for _ in $(seq 100); do
  [ -s "$ready" ] && break
  sleep 0.1
done
[ -s "$ready" ] || { echo "xvfb-check: Xvfb did not start" >&2; exit 1; }
export DISPLAY=:$(head -1 "$ready") SDL_AUDIODRIVER=dummy

gcc -O1 -o "$out/xclose" "$here/xclose.c" -lX11 || exit 1

# Waits for the demo's window (the demo runs as process $1); prints its id.
# SDL may replace the first window it makes while setting up its renderer, so
# the newest window of that name is taken (mapped or not: a close request
# reaches it either way), and callers look again right before use.
find_window() {
  for _ in $(seq 300); do
    kill -0 "$1" 2>/dev/null || break
    id=$(xdotool search --name "Brisolo - Wir kommen!" 2>/dev/null | sort -n | tail -1)
    if [ -n "$id" ]; then echo "$id"; return 0; fi
    sleep 0.2
  done
  echo "xvfb-check: windows on the display:" >&2
  xwininfo -root -tree >&2 2>/dev/null
  return 1
}

failed=0

# Every X client here opens its own connection, and a virtual X server under
# load refuses one now and then: a command that could not reach it is run again.
retry() {
  for _ in 1 2 3 4 5; do
    "$@" && return 0
    sleep 0.2
  done
  return 1
}

# Says why no window was found: what the demo wrote about the display, and
# whether it is still running.
explain() {
  echo "xvfb-check: $2" >&2
  if kill -0 "$1" 2>/dev/null; then
    echo "xvfb-check: the demo is still running" >&2
    kill "$1"
  else
    wait "$1"
    echo "xvfb-check: the demo ended with exit code $?" >&2
  fi
  echo "xvfb-check: what the demo printed about the display (of $(wc -l <"$3") lines):" >&2
  grep -a -i -m 20 "display\|window\|SDL\|error" "$3" >&2
  exit 1
}

# 1. Screenshot mid-run, then Escape.
start=$(date +%s.%N)
(cd "$content" && exec "$demo") 2>"$out/escape-run.log" &
pid=$!
window=$(find_window $pid) || explain $pid "no demo window" "$out/escape-run.log"
sleep 2.5
window=$(find_window $pid) || explain $pid "the demo window went away" "$out/escape-run.log"
retry import -window root "$out/mid-run.png"
xdotool windowactivate --sync "$window" 2>/dev/null || retry xdotool windowfocus "$window"
# Alt+Enter: the demo goes on drawing in an 800 x 600 window, then fullscreen again.
size() { retry xwininfo -id "$(find_window $pid)" | awk '/Width:/ { w = $2 } /Height:/ { h = $2 } END { print w "x" h }'; }
retry xdotool key alt+Return; sleep 0.8
windowed=$(size)
retry import -window "$(find_window $pid)" "$out/windowed.png"
retry xdotool key alt+Return; sleep 0.8
again=$(size)
wcolours=$(convert "$out/windowed.png" -format '%k' info:)
echo "xvfb-check: Alt+Enter -> $windowed with $wcolours colours ($out/windowed.png), again -> $again"
[ "$windowed" = "800x600" ] || { echo "xvfb-check: Alt+Enter did not show an 800 x 600 window" >&2; failed=1; }
[ "$again" = "1280x1024" ] || { echo "xvfb-check: the second Alt+Enter did not go back to fullscreen" >&2; failed=1; }
[ "${wcolours:-0}" -ge 500 ] || { echo "xvfb-check: the window shows only $wcolours colours" >&2; failed=1; }
sent=$(date +%s.%N)
retry xdotool keydown Escape; sleep 0.3; retry xdotool keyup Escape
wait $pid
code=$?
now=$(date +%s.%N)
elapsed=$(awk -v a="$start" -v b="$now" 'BEGIN { printf "%.2f", b - a }')
reaction=$(awk -v a="$sent" -v b="$now" 'BEGIN { printf "%.2f", b - a }')
echo "xvfb-check: Escape -> exit code $code ${reaction} s after the key, ${elapsed} s after the start (screenshot $out/mid-run.png)"
[ "$code" -eq 0 ] || failed=1
# Ended by the key, not by the music running out.
awk -v e="$reaction" 'BEGIN { exit !(e < 20) }' || { echo "xvfb-check: Escape did not end the demo" >&2; failed=1; }

# The screenshot: the 800 x 600 picture scaled to 1280 x 960 between black
# bars, a lit scene with many colours, and the time number's white box at its
# top left with black digits in it.
bar=$(convert "$out/mid-run.png" -crop 1280x32+0+0 +repage -format '%[fx:maxima.r+maxima.g+maxima.b]' info:)
colours=$(convert "$out/mid-run.png" -crop 1280x960+0+32 +repage -format '%k' info:)
label=$(convert "$out/mid-run.png" -crop 40x24+1+33 +repage -format '%[fx:minima.r] %[fx:maxima.r]' info:)
echo "xvfb-check: bar brightness $bar, $colours colours, time label range $label"
[ "$bar" = "0" ] || { echo "xvfb-check: the bar above the picture is not black" >&2; failed=1; }
[ "$colours" -ge 500 ] || { echo "xvfb-check: the picture has only $colours colours" >&2; failed=1; }
[ "$label" = "0 1" ] || { echo "xvfb-check: no black-on-white time number at the top left" >&2; failed=1; }

# 2. A close request from the desktop.
start=$(date +%s.%N)
(cd "$content" && exec "$demo") 2>"$out/close-run.log" &
pid=$!
window=$(find_window $pid) || explain $pid "no demo window" "$out/close-run.log"
sleep 1.5
# The request goes to the window as it is now; should that window have been
# replaced in the meantime, the request is sent again to the new one.
sent=$(date +%s.%N)
for _ in $(seq 10); do
  window=$(find_window $pid) || break
  retry "$out/xclose" "$window" 2>/dev/null
  for _ in $(seq 25); do
    kill -0 $pid 2>/dev/null || break 2
    sleep 0.2
  done
done
wait $pid
code=$?
now=$(date +%s.%N)
elapsed=$(awk -v a="$start" -v b="$now" 'BEGIN { printf "%.2f", b - a }')
reaction=$(awk -v a="$sent" -v b="$now" 'BEGIN { printf "%.2f", b - a }')
echo "xvfb-check: close request -> exit code $code ${reaction} s after the request, ${elapsed} s after the start"
[ "$code" -eq 0 ] || failed=1
awk -v e="$reaction" 'BEGIN { exit !(e < 20) }' || { echo "xvfb-check: the close request did not end the demo" >&2; failed=1; }
exit $failed
