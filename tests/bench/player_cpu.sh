#!/usr/bin/env bash
# CPU time per second of playback of the real players on one 640 x 480, 30 frames a second movie
# with stereo sound: the Linux player (SDL2) and korvaplay.exe under wine64 (GDI and DirectDraw
# styles), each under Xvfb, sound into files. Prints one line per player and style; the figure is
# (user + system time of the player's process) / wall time, as a percentage of one core (Wine's
# server process is not counted).
#
#   tests/bench/player_cpu.sh NATIVE_BUILD_DIR [WINDOWS_BUILD_DIR] [SECONDS] [CONTENT]
set -uo pipefail
NATIVE=$(cd "${1:-build/native}" && pwd)
WINBUILD=${2:-build/mingw-x86_64}
SECONDS_LONG=${3:-10}
CONTENT=${4:-typical}
T=$(mktemp -d /tmp/korva-cpu.XXXXXX)
WINE=$(command -v wine64 || echo /usr/lib/wine/wine64)
WINESERVER=$(command -v wineserver || echo /usr/lib/wine/wineserver)
cleanup() {
  [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2> /dev/null
  "$WINESERVER" -k 2> /dev/null
  rm -rf "$T"
}
trap cleanup EXIT

Xvfb :97 -screen 0 1024x768x24 -nolisten tcp > /dev/null 2>&1 &
XVFB_PID=$!
export DISPLAY=:97
for _ in $(seq 50); do xdpyinfo > /dev/null 2>&1 && break; sleep 0.1; done

"$NATIVE/krvtool" sample "$T/m.krv" --size 640x480 --rate 30 --frames $((SECONDS_LONG * 30)) --stereo \
  --audio-rate 44100 --content "$CONTENT" > /dev/null

# Runs a command, prints "cpu_ms wall_ms" of it.
measure() {
  local t0 t1 usage
  t0=$(date +%s%N)
  usage=$( { TIMEFORMAT='%U %S'; time "$@" > /dev/null 2>&1; } 2>&1 )
  t1=$(date +%s%N)
  awk -v u="$usage" -v w=$(((t1 - t0) / 1000000)) 'BEGIN { split(u, a, " "); printf "%d %d", (a[1] + a[2]) * 1000, w }'
}
report() {  # label cpu_ms wall_ms
  awk -v l="$1" -v c="$2" -v w="$3" -v s="$SECONDS_LONG" \
    'BEGIN { printf "%-36s %5.1f%% of a core (%d ms CPU in %d ms; the movie is %d s)\n", l, 100 * c / w, c, w, s }'
}

mkdir -p "$T/config"
printf '[Tesmo Video Tools]\nLastVersionCheckDate=%s\n' "$(date +%F)" > "$T/profile.ini"
mkdir -p "$T/config/korva" && cp "$T/profile.ini" "$T/config/korva/profile.ini"
echo "640 x 480, 30 frames a second, stereo 44100 Hz, content '$CONTENT'"
for style in /B1 /B2; do
  read -r c w < <(XDG_CONFIG_HOME=$T/config SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=$T/a.raw \
                  measure "$NATIVE/korvaplay" "$T/m.krv" $style)
  report "korvaplay (Linux, SDL2) $style" "$c" "$w"
done

if [ -x "$WINBUILD/korvaplay.exe" ] || [ -f "$WINBUILD/korvaplay.exe" ]; then
  export WINEPREFIX=$T/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" HOME=$T/home
  mkdir -p "$HOME"
  printf 'pcm.!default { type plug; slave { pcm "f"; format S16_LE; rate 44100; channels 2 } }\npcm.f { type file; slave.pcm "null"; file "%s"; format "raw" }\n' \
    "$T/wine.raw" > "$HOME/.asoundrc"
  "$WINE" wineboot -i > /dev/null 2>&1
  "$WINESERVER" -p
  printf '[Tesmo Video Tools]\r\nLastVersionCheckDate=%s\r\n' "$(date +%F)" >> "$WINEPREFIX/drive_c/windows/win.ini"
  M="Z:${T//\//\\}\\m.krv"
  for style in "/B2 (GDI)" "/B1 (DirectDraw, primary)" "/B10 (DirectDraw, off-screen)" "/B2 /Z (GDI, waveOut)"; do
    switches=${style%% (*}
    # shellcheck disable=SC2086
    read -r c w < <(measure "$WINE" "$WINBUILD/korvaplay.exe" "$M" $switches)
    report "korvaplay.exe (wine64) $style" "$c" "$w"
  done
  # Wine's DirectDraw draws through OpenGL (a software renderer under Xvfb); its GDI renderer
  # shows what the DirectDraw styles cost without that.
  "$WINE" reg add 'HKCU\Software\Wine\Direct3D' /v renderer /d gdi /f > /dev/null 2>&1
  for style in /B1 /B10; do
    read -r c w < <(measure "$WINE" "$WINBUILD/korvaplay.exe" "$M" $style)
    report "korvaplay.exe (wine64, Wine's GDI renderer) $style" "$c" "$w"
  done
fi
