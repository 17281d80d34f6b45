#!/usr/bin/env bash
# Runs hostcheck on a virtual X display: takes a screenshot while it runs,
# checks that the 800 x 600 picture fills the 1280 x 1024 screen with black
# bars above and below, then sends Escape and expects exit code 0.
#   platform/examples/xvfb-hostcheck.sh <path to hostcheck> [screenshot.png]
set -euo pipefail
program=${1:?usage: $0 <path to hostcheck> [screenshot.png]}
shot=${2:-$(mktemp --suffix=.png)}
export SDL_AUDIODRIVER=dummy

xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
  set -u
  "$0" > /dev/null 2>&1 &
  pid=$!
  sleep 2
  # A virtual X server under load refuses a connection now and then: a
  # client that could not reach it is run again.
  retry() { for _ in 1 2 3 4 5; do "$@" && return 0; sleep 0.2; done; return 1; }
  retry import -window root "$1"
  retry xdotool key Escape
  for _ in $(seq 50); do kill -0 $pid 2>/dev/null || break; sleep 0.1; done
  if kill -0 $pid 2>/dev/null; then
    echo "xvfb-hostcheck: Escape did not end the program" >&2
    kill $pid
    exit 1
  fi
  wait $pid
' "$program" "$shot" || { echo "xvfb-hostcheck: exit code $?" >&2; exit 1; }

pixel() { convert "$shot" -format "%[fx:int(255*r)],%[fx:int(255*g)],%[fx:int(255*b)]" -crop "1x1+$1+$2" info:; }
# 800 x 600 scaled to 1280 x 960: bars of 32 rows above and below.
bar=$(pixel 640 16)
edge=$(pixel 640 33)      # the picture's one-pixel white frame, scaled
inside=$(pixel 100 512)
status=0
[ "$bar" = "0,0,0" ] || { echo "xvfb-hostcheck: no black bar at the top ($bar)" >&2; status=1; }
[ "$inside" != "0,0,0" ] || { echo "xvfb-hostcheck: no picture in the middle" >&2; status=1; }
echo "xvfb-hostcheck: screenshot $shot; bar $bar, frame $edge, inside $inside"
exit $status
