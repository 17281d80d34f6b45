#!/usr/bin/env bash
# Runs hostcheck on a virtual X display and checks the host's side of it:
#  - fullscreen: the 800 x 600 picture fills the 1280 x 1024 screen with black
#    bars above and below;
#  - Alt+Enter shows it in an 800 x 600 window and back on the whole screen,
#    while the program keeps drawing;
#  - F12 saves a PNG equal to the picture on the screen;
#  - neither key, nor any message, reaches the program in the meantime;
#  - Escape ends it with exit code 0.
#   platform/examples/xvfb-hostcheck.sh <path to hostcheck> [output folder]
set -uo pipefail
program=$(realpath "${1:?usage: $0 <path to hostcheck> [output folder]}")
out=$(realpath -m "${2:-$(mktemp -d)}")
rm -rf "$out"
mkdir -p "$out/pictures"
export SDL_AUDIODRIVER=dummy XDG_PICTURES_DIR="$out/pictures"

# Xvfb picks a free display number itself and writes it once it is ready.
ready=$(mktemp)
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$ready" >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null; rm -f "$ready"' EXIT
for _ in $(seq 100); do
  [ -s "$ready" ] && break
  sleep 0.1
done
[ -s "$ready" ] || { echo "xvfb-hostcheck: Xvfb did not start" >&2; exit 1; }
export DISPLAY=:$(head -1 "$ready")

# A virtual X server under load refuses a connection now and then: a client
# that could not reach it is run again.
retry() { for _ in 1 2 3 4 5; do "$@" 2>/dev/null && return 0; sleep 0.2; done; return 1; }
# The newest window of the program (SDL may replace its first one).
window() { retry xdotool search --name "host check" | sort -n | tail -1; }
size() { retry xwininfo -id "$(window)" | awk '/Width:/ { w = $2 } /Height:/ { h = $2 } END { print w "x" h }'; }
pixel() { convert "$1" -format "%[fx:int(255*r)],%[fx:int(255*g)],%[fx:int(255*b)]" -crop "1x1+$2+$3" info:; }
key() { retry xdotool key --window "$(window)" "$1" || retry xdotool key "$1"; sleep 0.6; }

(cd "$out" && exec "$program" . -- still) 2>"$out/hostcheck.log" &
pid=$!
for _ in $(seq 50); do [ -n "$(window)" ] && break; sleep 0.2; done
sleep 1
retry xdotool windowfocus "$(window)"
status=0
fail() { echo "xvfb-hostcheck: $*" >&2; status=1; }

full1=$(size)
retry import -window root "$out/fullscreen.png"
key space
key alt+Return
windowed=$(size)
retry import -window "$(window)" "$out/windowed.png"
key F12
key alt+Return
full2=$(size)
retry import -window root "$out/fullscreen-again.png"
key space
key Escape
for _ in $(seq 50); do kill -0 $pid 2>/dev/null || break; sleep 0.1; done
if kill -0 $pid 2>/dev/null; then
  fail "Escape did not end the program"
  kill $pid
fi
wait $pid
code=$?
[ "$code" -eq 0 ] || fail "exit code $code"

echo "xvfb-hostcheck: sizes $full1 -> $windowed -> $full2"
[ "$full1" = "1280x1024" ] && [ "$full2" = "1280x1024" ] || fail "not fullscreen before and after"
[ "$windowed" = "800x600" ] || fail "Alt+Enter did not show an 800 x 600 window"

# 800 x 600 scaled to 1280 x 960: bars of 32 rows above and below.
for shot in fullscreen fullscreen-again; do
  bar=$(pixel "$out/$shot.png" 640 16)
  inside=$(pixel "$out/$shot.png" 100 512)
  [ "$bar" = "0,0,0" ] || fail "$shot: no black bar at the top ($bar)"
  [ "$inside" != "0,0,0" ] || fail "$shot: no picture in the middle"
done

# The program drew on through both switches, and learnt of neither key: the
# second mark lists what reached it since the first. Left Alt may (an ordinary
# key the user held), and messages it had before the first mark too (the
# window being uncovered brings WM_PAINT), but no message of a new kind.
marks=$(grep "hostcheck: mark" "$out/hostcheck.log")
echo "$marks"
first=$(echo "$marks" | sed -n '1s/.*frame \([0-9]*\);.*/\1/p')
second=$(echo "$marks" | sed -n '2s/.*frame \([0-9]*\);.*/\1/p')
before=$(echo "$marks" | sed -n '1s/.*since the last mark: *//p')
since=$(echo "$marks" | sed -n '2s/.*since the last mark: *//p')
[ -n "$first" ] && [ -n "$second" ] || fail "the marks did not reach the program"
[ "${second:-0}" -ge $(( ${first:-0} + 30 )) ] || fail "it did not keep drawing ($first -> $second)"
for item in $since; do
  case "$item" in
    nothing | key:56) ;;
    message:*) [[ " $before " == *" $item "* ]] || fail "a new message reached the program: $item" ;;
    *) fail "reached the program between the marks: $item" ;;
  esac
done

# F12: one PNG, the picture as presented, equal to the window's content.
shots=("$out"/pictures/*.png)
grep -q "screenshot: $out/pictures/" "$out/hostcheck.log" || fail "F12 did not name its file"
if [ "${#shots[@]}" -ne 1 ] || [ ! -f "${shots[0]}" ]; then
  fail "F12 saved ${#shots[@]} files"
else
  geometry=$(identify -format "%wx%h" "${shots[0]}")
  differing=$(compare -metric AE -fuzz 1% "${shots[0]}" "$out/windowed.png" null: 2>&1)
  echo "xvfb-hostcheck: F12 saved ${shots[0]} ($geometry), $differing pixels differ from the window"
  [ "$geometry" = "800x600" ] || fail "the PNG is $geometry"
  [ "$differing" = "0" ] || fail "the PNG differs from the presented picture"
fi
exit $status
