#!/usr/bin/env bash
# The Windows player end to end under wine64 and Xvfb, as a user meets it: the window shows the
# movie's frames exactly (the automatic style and styles 1, 2, 9, 10; styles 3 to 8 open or fail
# with their error text), DirectSound and (with /Z) waveOut play the decoded sound byte for byte
# (recorded from a PulseAudio null sink), Space holds the picture and Enter steps one frame, Escape ends through
# the closing picture, a missing movie gives the error box and exit code 1, a bundled .exe plays
# with no arguments, and the update question comes once with a fresh profile section.
#
#   tests/e2e/win_player.sh NATIVE_BUILD_DIR WINDOWS_BUILD_DIR [WINEPREFIX]
set -uo pipefail
NATIVE=$(cd "${1:-build/native}" && pwd)
WINBUILD=$(cd "${2:-build/mingw-x86_64}" && pwd)
K=$NATIVE/krvtool
EXE=$WINBUILD/korvaplay.exe
T=$(mktemp -d /tmp/korva-wine.XXXXXX)
FAILS=0
DISPLAY_NUMBER=${KORVA_E2E_WINE_DISPLAY:-94}
WINE=$(command -v wine64 || echo /usr/lib/wine/wine64)
WINESERVER=$(command -v wineserver || echo /usr/lib/wine/wineserver)
export WINEPREFIX=${3:-$WINBUILD/wine-prefix}
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

cleanup() {
  "$WINESERVER" -k 2> /dev/null
  pkill -9 -f "$T/" 2> /dev/null
  [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2> /dev/null
  [ -n "${PULSE_PID:-}" ] && kill "$PULSE_PID" 2> /dev/null
  rm -rf "$T"
}
trap cleanup EXIT

fail() { echo "FAIL: $*"; FAILS=$((FAILS + 1)); }
pass() { echo "ok: $*"; }

Xvfb ":$DISPLAY_NUMBER" -screen 0 1024x768x24 -nolisten tcp > "$T/xvfb.log" 2>&1 &
XVFB_PID=$!
export DISPLAY=":$DISPLAY_NUMBER"
for _ in $(seq 50); do xdpyinfo > /dev/null 2>&1 && break; sleep 0.1; done

# The sound device: a PulseAudio null sink at 44100 Hz, which runs in real time, recorded from
# its monitor. (ALSA's file sink takes data as fast as it comes, so a looping DirectSound
# buffer would run dry and replay old data there.)
export HOME=$T/home XDG_RUNTIME_DIR=$T/run
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
pulseaudio --daemonize=no --exit-idle-time=-1 -n --use-pid-file=no -F /dev/null \
  -L module-native-protocol-unix -L "module-null-sink sink_name=korva rate=44100 format=s16le channels=2" \
  > "$T/pulse.log" 2>&1 &
PULSE_PID=$!
for _ in $(seq 50); do pactl info > /dev/null 2>&1 && break; sleep 0.1; done

# A warm prefix and a server that stays up between the runs.
"$WINE" wineboot -i > "$T/wineboot.log" 2>&1
"$WINESERVER" -p 2> /dev/null

WIN_INI=$WINEPREFIX/drive_c/windows/win.ini
# Today's date in the profile: no update question, except where a test wants one.
known_profile() {
  grep -v -e '^\[Tesmo Video Tools\]' -e '^LastVersionCheckDate=' "$WIN_INI" 2> /dev/null > "$T/win.ini"
  printf '[Tesmo Video Tools]\r\nLastVersionCheckDate=%s\r\n' "$(date +%F)" >> "$T/win.ini"
  cp "$T/win.ini" "$WIN_INI"
}
fresh_profile() {
  grep -v -e '^\[Tesmo Video Tools\]' -e '^LastVersionCheckDate=' "$WIN_INI" 2> /dev/null > "$T/win.ini"
  cp "$T/win.ini" "$WIN_INI"
}
known_profile

winpath() { echo "Z:${1//\//\\}"; }
# The viewable window of that title (Wine keeps unmapped X windows of a title too).
window_id() {
  local id
  for id in $(xwininfo -root -tree | grep "\"$1\"" | awk '{print $1}'); do
    xwininfo -id "$id" 2> /dev/null | grep -q "IsViewable" && { echo "$id"; return 0; }
  done
}
# Waits up to 20 s for a window of that title; prints its id.
wait_window() {
  local id=""
  for _ in $(seq 200); do
    id=$(window_id "$1")
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.1
  done
  return 1
}
key() { xdotool windowfocus --sync "$1" > /dev/null 2>&1; xdotool key --window "$1" "$2" 2> /dev/null; }
# The window's pixels as raw RGB (Wine's X window is the client area).
shot() { xwd -id "$1" -silent | convert xwd:- -depth 8 "rgb:$2"; }
geometry() { xwininfo -id "$1" 2> /dev/null | awk '/Width:/{w=$2} /Height:/{h=$2} END{print w "x" h}'; }
# The index of the frame the shot's top-left w x h pixels equal (the picture stands at (0, 0)
# of the client area), or nothing.
frame_of() {  # shot.rgb frames_dir window_width
  local f ww=$3 fw=${FRAME_W} fh=${FRAME_H}
  head -c $((ww * fh * 3)) "$1" | od -An -v -tx1 -w$((ww * 3)) | cut -c1-$((fw * 9)) > "$T/crop.txt"
  for f in "$2"/frame_*.rgb; do
    [ -f "$f.txt" ] || od -An -v -tx1 -w$((fw * 3)) "$f" > "$f.txt"
    cmp -s "$f.txt" "$T/crop.txt" && { basename "$f" .rgb | sed 's/frame_0*//; s/^$/0/'; return 0; }
  done
  return 1
}
wait_exit() {  # pid seconds: the exit code in RC (124 when it did not end)
  RC=124
  for _ in $(seq $(($2 * 10))); do
    if ! kill -0 "$1" 2> /dev/null; then wait "$1"; RC=$?; return 0; fi
    sleep 0.1
  done
  kill -9 "$1" 2> /dev/null
  wait "$1" 2> /dev/null
}
reference_frames() {  # movie, directory: every frame as RGB
  mkdir -p "$2"
  "$K" frames "$1" "$2" --format 3 > /dev/null || return 1
  local f
  for f in "$2"/*.png; do convert "$f" -depth 8 "rgb:${f%.png}.rgb"; done
}
play() { "$WINE" "$EXE" "$@" 2> "$T/err.txt" & PID=$!; }

FRAME_W=160 FRAME_H=120
"$K" sample "$T/m.krv" --frames 30 --size ${FRAME_W}x${FRAME_H} > /dev/null
reference_frames "$T/m.krv" "$T/frames"
M=$(winpath "$T/m.krv")

# 1. The picture, exactly; Space holds it and Enter steps exactly one frame; Escape ends through
#    the closing picture.
check_style() {  # style; 0 when every check passed, NOTE says what happened
  local style=$1 w a b g ww
  play "$M" /L $style
  if ! w=$(wait_window "Korva Video Player"); then
    if e=$(window_id "Korva Error") && [ -n "$e" ]; then
      NOTE="style '$style': the error box came"
      key "$e" Return
    else
      NOTE="style '$style': no window"
    fi
    wait_exit $PID 5
    return 1
  fi
  sleep 1.5
  key "$w" space
  sleep 0.6
  ww=$(geometry "$w" | cut -dx -f1)
  shot "$w" "$T/a.rgb"
  a=$(frame_of "$T/a.rgb" "$T/frames" "$ww")
  key "$w" Return
  sleep 0.8
  shot "$w" "$T/b.rgb"
  b=$(frame_of "$T/b.rgb" "$T/frames" "$ww")
  key "$w" Escape
  sleep 0.8
  g=$(geometry "$(window_id "Korva Video Player")")
  wait_exit $PID 8
  if [ -z "$a" ]; then
    NOTE="style '$style': the window shows none of the movie's frames"
  elif [ "$b" != "$(((a + 1) % 30))" ]; then
    NOTE="style '$style': Enter while paused went from frame $a to '$b'"
  elif [ "$RC" != 0 ] || [ "$g" != "224x252" ]; then
    NOTE="style '$style': Escape ended with $RC, the closing picture was '$g'"
  else
    NOTE="style '${style:-auto}' shows frame $a exactly, Enter steps to $b, Escape ends through the closing picture"
    return 0
  fi
  return 1
}
for style in "" /B1 /B2 /B9 /B10; do
  if check_style "$style"; then
    pass "$NOTE"
  else
    echo "note: first try: $NOTE"
    if check_style "$style"; then pass "$NOTE (second try)"; else fail "$NOTE"; fi
  fi
done

# Styles 3 to 8 (overlays and YUV surfaces): a picture, or the error box with the surface's text.
for style in 3 4 5 6 7 8; do
  play "$M" /L /B$style
  for _ in $(seq 200); do
    w=$(window_id "Korva Video Player"); e=$(window_id "Korva Error")
    [ -n "$e" ] && break
    [ -n "$w" ] && { sleep 1; e=$(window_id "Korva Error"); break; }
    sleep 0.1
  done
  if [ -n "$e" ]; then
    text=$(xdotool getwindowname "$e" 2> /dev/null)
    key "$e" Return
    wait_exit $PID 5
    [ "$RC" = 1 ] && pass "style $style cannot be had under Wine: the error box, exit code 1" ||
      fail "style $style: error box, then exit $RC"
  elif [ -n "$w" ]; then
    key "$w" Escape
    wait_exit $PID 8
    [ "$RC" = 0 ] && pass "style $style opens and plays" || fail "style $style: exit $RC"
  else
    fail "style $style: neither a window nor an error box"
    wait_exit $PID 1
  fi
done

# 2. DirectSound (the default) and waveOut (/Z) play the decoded PCM byte for byte.
"$K" sample "$T/s.krv" --frames 20 --stereo --audio-rate 44100 > /dev/null
"$K" pcm "$T/s.krv" 0 "$T/pcm.raw"
S=$(winpath "$T/s.krv")
first_nonzero() { od -An -v -tu1 -w1 "$1" | awk '$1 != 0 {print NR - 1; exit}'; }
p0=$(first_nonzero "$T/pcm.raw")
want=$(($(stat -c %s "$T/pcm.raw") - p0))
# One play into the sink; 0 when the recording holds the decoded PCM exactly, from the first
# sound on. The player closes the movie (and the device) when the last frame has been shown, so
# what is still queued then (up to 300 ms with DirectSound's buffer) may be missing at the end.
# Wine's waveOut may drop the first few milliseconds of a stream (a different count each run):
# with $3 > 0, the recording may begin up to $3 frames into the decoded sound.
check_sound() {  # name switch start_frames
  local a0 a1 n d p
  parec -d korva.monitor --format=s16le --rate=44100 --channels=2 --raw > "$T/audio.raw" 2> /dev/null &
  local rec=$!
  sleep 0.3
  # shellcheck disable=SC2086
  play "$S" $2
  wait_exit $PID 20
  sleep 0.4
  kill $rec 2> /dev/null
  wait $rec 2> /dev/null
  # The sink records silence before and after: from the first to the last sound, whole frames.
  read -r a0 a1 < <(od -An -v -tu1 -w1 "$T/audio.raw" | awk '$1 != 0 { if (f == "") f = NR - 1; l = NR - 1 } END { print f, l }')
  NOTE="$1: the sound at the device differs from the decoded PCM (exit $RC)"
  [ "$RC" = 0 ] && [ -n "$a0" ] || return 1
  a0=$((a0 - a0 % 4))
  n=$((a1 + 1 - a0))
  for d in $(seq 0 "$3"); do
    p=$((p0 - p0 % 4 + 4 * d))
    cmp -s -n 64 -i "$p:$a0" "$T/pcm.raw" "$T/audio.raw" || continue
    [ "$n" -gt $((want - 4 * d)) ] && n=$((want - 4 * d))
    if [ "$n" -ge $((want - 52920)) ] && cmp -s -n "$n" -i "$p:$a0" "$T/pcm.raw" "$T/audio.raw"; then
      NOTE="$1 played the decoded sound byte for byte ($n of $want bytes"
      [ "$d" -gt 0 ] && NOTE="$NOTE, from frame $d on"
      NOTE="$NOTE)"
      return 0
    fi
    NOTE="$1: the sound at the device differs from the decoded PCM ($n of $want bytes from frame $d)"
    return 1
  done
  return 1
}
if pactl info > /dev/null 2>&1; then
  for back in "DirectSound::0" "waveOut:/Z:441"; do
    # Up to three tries: the sound server may drop a few frames when a stream starts.
    ok=0
    for try in 1 2 3; do
      IFS=: read -r name switch skip <<< "$back"
      if check_sound "$name" "$switch" "$skip"; then ok=1; break; fi
      echo "note: try $try: $NOTE"
    done
    [ "$try" -gt 1 ] && NOTE="$NOTE (try $try)"
    [ $ok = 1 ] && pass "$NOTE" || fail "$NOTE"
  done
else
  fail "no sound server: $(head -c 300 "$T/pulse.log")"
fi

# 3. A movie that cannot be opened: the "Korva Error" box waits for its answer (it is still
#    there two seconds after it came, the player still running), and answering it ends the
#    program with exit code 1.
box_stays() {  # window id, seconds: 0 when the box and the player are there all that time
  local i
  for i in $(seq $(($2 * 10))); do
    xwininfo -id "$1" 2> /dev/null | grep -q "IsViewable" && kill -0 "$PID" 2> /dev/null || return 1
    sleep 0.1
  done
}
play "$(winpath "$T/missing.krv")"
if ! w=$(wait_window "Korva Error"); then
  fail "missing movie: no Korva Error box"
  wait_exit $PID 1
elif ! box_stays "$w" 2; then
  wait_exit $PID 1
  fail "missing movie: the Korva Error box went away by itself within two seconds (exit $RC)"
else
  key "$w" Return
  wait_exit $PID 8
  [ "$RC" = 1 ] && pass "a missing movie gives the Korva Error box, which waits for its answer; then exit code 1" ||
    fail "missing movie: exit $RC after the box was answered"
fi

# 4. A fresh profile section asks the update question once.
fresh_profile
play "$M"
if w=$(wait_window "New version check..."); then
  key "$w" n  # No
  if w=$(wait_window "Korva Video Player"); then sleep 0.5; key "$w" Escape; fi
  wait_exit $PID 8
  if [ "$RC" = 0 ] && tr -d '\r' < "$WIN_INI" | grep -q "LastVersionCheckDate=$(date +%F)"; then
    play "$M"
    w=$(wait_window "Korva Video Player")
    sleep 2
    if [ -n "$(window_id "New version check...")" ]; then
      fail "the update question came again"
    else
      pass "a fresh profile asks the update question once"
    fi
    key "$w" Escape
    wait_exit $PID 8
  else
    fail "update question: exit $RC, profile: $(grep -A1 Tesmo "$WIN_INI" | tr '\r\n' '  ')"
  fi
else
  fail "a fresh profile did not ask the update question"
  wait_exit $PID 1
fi
known_profile

# 5. A bundled .exe plays with no arguments.
"$K" bundle "$EXE" "$T/m.krv" "$T/selfrun.exe" /L > /dev/null
check_bundle() {
  local w ww a
  "$WINE" "$T/selfrun.exe" 2> "$T/err.txt" &
  PID=$!
  if ! w=$(wait_window "Korva Video Player"); then
    NOTE="bundled .exe: no window"
    wait_exit $PID 1
    return 1
  fi
  sleep 1.5
  key "$w" space
  sleep 0.6
  ww=$(geometry "$w" | cut -dx -f1)
  shot "$w" "$T/c.rgb"
  a=$(frame_of "$T/c.rgb" "$T/frames" "$ww")
  key "$w" Escape
  wait_exit $PID 8
  if [ "$RC" = 0 ] && [ -n "$a" ]; then NOTE="a bundled .exe plays with no arguments"; return 0; fi
  NOTE="bundled .exe: exit $RC, frame '$a'"
  return 1
}
if check_bundle; then
  pass "$NOTE"
else
  echo "note: first try: $NOTE"
  if check_bundle; then pass "$NOTE (second try)"; else fail "$NOTE"; fi
fi

if [ $FAILS -ne 0 ]; then
  echo "$FAILS end-to-end checks of the Windows player failed"
  exit 1
fi
echo "every end-to-end check of the Windows player passed"
