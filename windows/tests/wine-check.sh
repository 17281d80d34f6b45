#!/usr/bin/env bash
# The Windows build under Wine on a virtual X display (Xvfb, 800 x 600 at
# 16 bits, so the demo's display mode is the desktop's own).
#
# Usage: wine-check.sh MODE WINDOWS_BUILD CONTENT [HOST_BUILD]
#   play     demo.exe in CONTENT plays to its end by itself: exit 0 within 90 s.
#   escape   Escape sent with xdotool ends it early with exit 0.
#   missing  in a folder without scene.2vef it ends by its own failure path:
#            exit 2, the file named on standard error, no crash, no hang.
#   frames   with the audio clock held (DEMO_CLOCK_MS) at demo times 2500,
#            5000 and 7500, the Wine window's picture is compared with the
#            Linux democapture frame (HOST_BUILD) of the same time: PSNR at
#            least 40 dB each; prints the figure for every frame and keeps the
#            pictures in WINDOWS_BUILD/wine-frames.
#   vefexport  vefexport.exe converts the glTF test models to the very bytes
#            the Linux vefexport writes; --palette and other formats end
#            with exit 2.
#   package  cpack -G ZIP makes the zip; unpacked, it holds every file, its
#            scene passes vefdump.exe and its demo.exe runs.
#   probe    bass_probe.exe: the held clock gives floor(ms x rate / 1000)
#            frames of the stream. (That the length is the Linux library's
#            shows in the frames: the printed demo time depends on it.)
#
# Wine runs in a prefix of its own (WINDOWS_BUILD/wine-prefix, made on first
# use) with a virtual desktop of the display's size: with no window manager,
# the demo's maximised window would otherwise not cover the screen. Its
# crash debugger is switched off, so a crash ends the program with a code
# instead of waiting.
set -uo pipefail
mode=$1
build=$(realpath "$2")
content=$(realpath "$3")
host=${4:+$(realpath "$4")}

wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
[ -x "$wine" ] || { echo "wine-check: no wine64 (Debian package wine64)" >&2; exit 1; }
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
export WINEPREFIX=$build/wine-prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# No sound server: the audio library plays silently, as on a machine without
# a sound card. ALSA's complaints about the missing card are noise.
export ALSA_CONFIG_PATH=/dev/null

ready=$(mktemp)
work=$(mktemp -d)
Xvfb -displayfd 3 -screen 0 800x600x16 -nolisten tcp 3>"$ready" >/dev/null 2>&1 &
xvfb=$!
cleanup() {
  # -k only asks the server to go; the next test's Wine must not find it
  # still closing (its clients then die with "Connection reset by peer").
  "$wineserver" -k 2>/dev/null
  "$wineserver" -w 2>/dev/null
  kill "$xvfb" 2>/dev/null
  rm -rf "$ready" "$work"
}
trap cleanup EXIT
for _ in $(seq 100); do
  [ -s "$ready" ] && break
  sleep 0.1
done
[ -s "$ready" ] || { echo "wine-check: Xvfb did not start" >&2; exit 1; }
export DISPLAY=:$(head -1 "$ready")

# The prefix, once; a lock keeps two tests from making it together.
(
  flock 9
  if [ ! -f "$WINEPREFIX/.demo-ready" ]; then
    echo "wine-check: making the Wine prefix $WINEPREFIX"
    rm -rf "$WINEPREFIX"
    "$wine" wineboot -i >/dev/null 2>&1
    key='HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug'
    "$wine" reg add "$key" /v Auto /d 1 /f >/dev/null 2>&1
    "$wine" reg add "$key" /v Debugger /d false /f >/dev/null 2>&1
    "$wine" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
    "$wine" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 800x600 /f >/dev/null 2>&1
    # GDI's System font, as every Windows has it: Debian's Wine keeps its
    # bitmap fonts outside the prefix, and without them Wine draws the
    # System font with a TrueType stand-in of other shapes and widths.
    cp /usr/share/wine/fonts/vgasys.fon /usr/share/wine/fonts/vgafix.fon \
       "$WINEPREFIX/drive_c/windows/Fonts/" || exit 1
    "$wineserver" -w
    touch "$WINEPREFIX/.demo-ready"
  fi
) 9>"$build/wine-prefix.lock" || exit 1

# One Wine server for the whole check. Left to itself it ends a few seconds
# after its last program, and a program started in that moment dies with
# "Connection reset by peer" (the package check runs vefdump.exe, then the demo).
"$wineserver" -p

# A folder with the programs and the content, as the package lays it out.
stage() {  # stage DIR [with-scene]
  mkdir -p "$1"
  cp "$build"/demo.exe "$build"/bass.dll "$1"/
  cp "$content"/Sound.mp3 "$1"/
  [ "${2:-}" = with-scene ] && cp "$content"/scene.2vef "$1"/
  return 0
}

# Runs demo.exe in DIR in the background; sets $pid.
start_demo() {
  (cd "$1" && exec "$wine" demo.exe >"$work/out.txt" 2>&1) &
  pid=$!
}

# Waits up to $2 seconds for process $1; sets $rc to its exit code, 124 when
# it is still running.
wait_for() {
  for _ in $(seq $(($2 * 10))); do
    if ! kill -0 "$1" 2>/dev/null; then
      wait "$1"
      rc=$?
      return
    fi
    sleep 0.1
  done
  rc=124
}

# Ends the demo and Wine after a failed wait.
stop_demo() {
  kill "$pid" 2>/dev/null
  "$wineserver" -k 2>/dev/null
}

# Waits until the demo's window exists.
wait_window() {
  # Wine's first start in a fresh display (its server, the desktop) takes
  # tens of seconds on a busy machine.
  for _ in $(seq 600); do
    xdotool search --name "Brisolo - Wir kommen!" >/dev/null 2>&1 && return 0
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.2
  done
  echo "wine-check: the demo's window did not appear" >&2
  cat "$work/out.txt" >&2
  return 1
}

# Presses Escape (held across a few frames: DirectInput reads the key state)
# once a second until the demo ends, for at most $1 seconds; sets $rc. The
# first presses may come while it still loads, before it reads the keyboard.
escape() {
  for _ in $(seq "$1"); do
    xdotool keydown Escape
    sleep 0.5
    xdotool keyup Escape
    wait_for "$pid" 1
    [ "$rc" != 124 ] && return
    kill -0 "$pid" 2>/dev/null || break
  done
  wait_for "$pid" 1
}

fail() {
  echo "wine-check $mode: $*" >&2
  echo "--- demo output:" >&2
  cat "$work/out.txt" >&2 2>/dev/null
  exit 1
}

case $mode in
  play)
    stage "$work/c" with-scene
    start_demo "$work/c"
    wait_for "$pid" 90
    [ "$rc" = 0 ] || { stop_demo; fail "expected exit 0 within 90 s, got $rc"; }
    grep -q "audio: no sound device" "$work/out.txt" || fail "the music did not play silently"
    echo "wine-check play: demo.exe played to its end, exit 0"
    ;;
  escape)
    stage "$work/c" with-scene
    start_demo "$work/c"
    wait_window || exit 1
    escape 30
    [ "$rc" = 0 ] || { stop_demo; fail "expected exit 0 after Escape, got $rc"; }
    echo "wine-check escape: Escape ended demo.exe with exit 0"
    ;;
  missing)
    stage "$work/c"
    start_demo "$work/c"
    wait_for "$pid" 60
    [ "$rc" = 2 ] || { stop_demo; fail "expected exit 2 without scene.2vef, got $rc"; }
    grep -q "scene.2vef" "$work/out.txt" || fail "the message does not name scene.2vef"
    echo "wine-check missing: without scene.2vef demo.exe ended with exit 2:"
    grep "scene.2vef" "$work/out.txt"
    ;;
  frames)
    [ -n "$host" ] || { echo "wine-check frames: needs the Linux build" >&2; exit 1; }
    out=$build/wine-frames
    rm -rf "$out"
    mkdir -p "$out"
    stage "$work/c" with-scene
    status=0
    # At 200 frames per second of music, capture frame k sits at k x 5 ms,
    # exactly where DEMO_CLOCK_MS=k x 5 holds the Windows clock, and every
    # demo time has a frame (the music is longer than 50 s).
    for t in 2500 5000 7500; do
      (cd "$content" && "$host/tools/democapture/democapture" --fps 200 --from $t --to $((t + 1)) \
         --writers 0 --png "$out/linux-$t") >/dev/null 2>&1 || fail "democapture failed at $t"
      first=$(ls "$out/linux-$t" | sort | head -1)
      [ -n "$first" ] || fail "no Linux frame at demo time $t"
      k=$(echo "$first" | tr -dc 0-9 | sed 's/^0*//')
      ms=$((${k:-0} * 5))
      mv "$out/linux-$t/$first" "$out/linux-$t.png"
      rm -rf "$out/linux-$t"
      DEMO_CLOCK_MS=$ms start_demo "$work/c"
      export -n DEMO_CLOCK_MS
      wait_window || exit 1
      # The first frame shows time 0, every later one the held time: the
      # picture is taken once two screenshots a second apart agree.
      import -window root -depth 8 "$work/shot.png"
      for _ in $(seq 60); do
        sleep 1
        import -window root -depth 8 "$out/wine-$t.png"
        same=$(compare -metric AE "$work/shot.png" "$out/wine-$t.png" null: 2>&1)
        colours=$(identify -format %k "$out/wine-$t.png")
        [ "$same" = 0 ] && [ "$colours" -gt 256 ] && break  # drawn, not a blank window
        cp "$out/wine-$t.png" "$work/shot.png"
      done
      escape 20
      [ "$rc" = 0 ] || { stop_demo; fail "demo.exe ended with $rc at demo time $t"; }
      psnr=$(compare -metric PSNR "$out/linux-$t.png" "$out/wine-$t.png" "$out/diff-$t.png" 2>&1)
      echo "wine-check frames: demo time $t (DEMO_CLOCK_MS=$ms): PSNR $psnr dB"
      if ! awk -v p="$psnr" 'BEGIN { exit !(p == "inf" || p + 0 >= 40) }'; then
        echo "wine-check frames: below 40 dB at demo time $t (see $out)" >&2
        status=1
      fi
    done
    exit $status
    ;;
  probe)
    stage "$work/c"
    cp "$build"/bass_probe.exe "$work/c"/
    got=$(cd "$work/c" && DEMO_CLOCK_MS=1234 "$wine" bass_probe.exe Sound.mp3 2>/dev/null | tr -d '\r')
    echo "wine-check probe: $got"
    # 1234 ms of a 44100 Hz stereo stream: floor(1234 x 44.1) = 54419 frames.
    case $got in
      *"position=217676"*) ;;
      *) fail "expected position=217676 at 1234 ms, got: $got" ;;
    esac
    ;;
  vefexport)
    [ -n "$host" ] || { echo "wine-check vefexport: needs the Linux build" >&2; exit 1; }
    models=$(cd "$(dirname "$0")/../../tests/data/models" && pwd)
    cp "$build"/vefexport.exe "$work"/
    status=0
    # Each test model, and one with the music's length, converted by both.
    for m in "$models"/*/*.gltf "$models"/*/*.glb; do
      [ -f "$m" ] || continue
      n=$(basename "$m")
      for args in "--seconds 20" "--music $content/Sound.mp3 --fps 10"; do
        # shellcheck disable=SC2086
        "$host/tools/vefexport/vefexport" "$m" $args -o "$work/linux.2vef" >/dev/null 2>&1 ||
          fail "the Linux vefexport failed on $n"
        # shellcheck disable=SC2086
        (cd "$work" && "$wine" vefexport.exe "$m" $args -o windows.2vef >/dev/null 2>&1) ||
          fail "vefexport.exe failed on $n ($args)"
        if cmp -s "$work/linux.2vef" "$work/windows.2vef"; then
          echo "wine-check vefexport: $n ($args): identical, $(stat -c %s "$work/windows.2vef") bytes"
        else
          echo "wine-check vefexport: $n ($args): the files differ" >&2
          status=1
        fi
      done
    done
    # What the Windows build lacks is said in --help and refused with exit 2.
    help=$(cd "$work" && "$wine" vefexport.exe --help 2>/dev/null)
    echo "$help" | grep -q "glTF 2.0 (.gltf, .glb) only" || fail "--help does not say what it lacks"
    (cd "$work" && "$wine" vefexport.exe "$models/BoxAnimated/BoxAnimated.glb" --palette -o p.2vef \
       >/dev/null 2>&1)
    [ $? = 2 ] || fail "--palette did not end with exit 2"
    printf 'o 1\nv 0 0 0\n' >"$work/model.obj"
    (cd "$work" && "$wine" vefexport.exe model.obj -o o.2vef >/dev/null 2>"$work/err.txt")
    [ $? = 2 ] || fail "an OBJ model did not end with exit 2"
    grep -q "glTF" "$work/err.txt" || fail "the OBJ refusal does not say why: $(cat "$work/err.txt")"
    exit $status
    ;;
  package)
    (cd "$build" && cpack -G ZIP >/dev/null) || fail "cpack -G ZIP failed"
    zip=$(ls "$build"/demo-port-*-win64.zip)
    (cd "$work" && cmake -E tar xf "$zip") || fail "cannot unpack $zip"
    dir=$(ls -d "$work"/demo-port-*-win64)
    for f in demo.exe bass.dll vefdump.exe vefexport.exe scene.2vef Sound.mp3 README.txt; do
      [ -f "$dir/$f" ] || fail "$f is missing from $(basename "$zip")"
    done
    # The unpacked folder plays as it is: only system DLLs and bass.dll needed.
    (cd "$dir" && "$wine" vefdump.exe scene.2vef >/dev/null 2>&1) || fail "vefdump.exe refuses the packaged scene"
    DEMO_CLOCK_MS=20000 start_demo "$dir"
    export -n DEMO_CLOCK_MS
    wait_window || exit 1
    escape 30
    [ "$rc" = 0 ] || { stop_demo; fail "the packaged demo.exe ended with $rc"; }
    echo "wine-check package: $(basename "$zip"), $(stat -c %s "$zip") bytes, plays from its folder"
    ;;
  *)
    echo "usage: wine-check.sh play|escape|missing|frames|probe|vefexport|package WINDOWS_BUILD CONTENT [HOST_BUILD]" >&2
    exit 2
    ;;
esac
