#!/usr/bin/env bash
# The Windows installer end to end under wine64 and Xvfb, in a fresh prefix of its own: a silent
# install puts the programs, the README and the Start menu entry in place and registers the .krv
# association and the uninstall entry (read back with `reg query`); a movie whose path has
# blanks, opened through the association as a double click opens it (`start /unix`), plays in
# the player's window (a screenshot equal to one of its frames) and ends with Escape; a silent
# uninstall leaves no file and no registry key of its own behind.
#
# It waits for states (a window, a frame on the screen, a process's end, files and keys gone),
# not for fixed times.
#
#   tests/e2e/win_installer.sh NATIVE_BUILD WIN_BUILD_X86_64 INSTALLER_EXE
set -uo pipefail
if [ $# -ne 3 ]; then
  echo "usage: $0 NATIVE_BUILD WIN_BUILD_X86_64 INSTALLER_EXE" >&2
  exit 2
fi
NATIVE=$(cd "$1" && pwd) || exit 2
WINBUILD=$(cd "$2" && pwd) || exit 2
SETUP=$(cd "$(dirname "$3")" && pwd)/$(basename "$3")
K=$NATIVE/krvtool
VERSION=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$WINBUILD/CMakeCache.txt")
T=$(mktemp -d /tmp/korva-setup.XXXXXX)
FAILS=0
DISPLAY_NUMBER=${KORVA_E2E_INSTALLER_DISPLAY:-83}
WINE=$(command -v wine64 || echo /usr/lib/wine/wine64)
WINESERVER=$(command -v wineserver || echo /usr/lib/wine/wineserver)
export WINEPREFIX=$T/prefix WINEDEBUG=-all
# No Mono or Gecko prompts; no menu entries or file types of Wine's own in the user's desktop.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export HOME=$T/home
mkdir -p "$HOME"

cleanup() {
  [ -n "${PID:-}" ] && kill -9 "$PID" 2> /dev/null
  "$WINESERVER" -k 2> /dev/null
  [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2> /dev/null
  rm -rf "$T"
}
trap cleanup EXIT

fail() { echo "FAIL: $*"; FAILS=$((FAILS + 1)); }
pass() { echo "ok: $*"; }
[ -f "$SETUP" ] || { fail "no installer at $3"; exit 1; }
[ -n "$VERSION" ] || { fail "$2 is not a configured CMake build tree"; exit 1; }

Xvfb ":$DISPLAY_NUMBER" -screen 0 1024x768x24 -nolisten tcp > "$T/xvfb.log" 2>&1 &
XVFB_PID=$!
export DISPLAY=":$DISPLAY_NUMBER"
for _ in $(seq 100); do xdpyinfo > /dev/null 2>&1 && break; sleep 0.05; done

# A fresh prefix, kept warm by a server that stays up until the end.
"$WINE" wineboot -i > "$T/wineboot.log" 2>&1
"$WINESERVER" -p 2> /dev/null
DRIVE_C=$WINEPREFIX/drive_c
# Today's date in the profile: no update question.
printf '[Tesmo Video Tools]\r\nLastVersionCheckDate=%s\r\n' "$(date +%F)" >> "$DRIVE_C/windows/win.ini"

wine_quiet() { "$WINE" "$@" 2> /dev/null | tr -d '\r'; }
# The data of a registry value ("" = the key's default value); status 1 when it is not there.
reg_value() {  # key name
  local out
  if [ -z "$2" ]; then out=$(wine_quiet reg query "$1" /ve) || return 1
  else out=$(wine_quiet reg query "$1" /v "$2") || return 1; fi
  printf '%s\n' "$out" | sed -n 's/^ .*REG_[A-Z_]*    //p' | head -1
}
reg_key_exists() { "$WINE" reg query "$1" > /dev/null 2>&1; }
. "$(dirname "${BASH_SOURCE[0]}")/wait_exit.sh"  # wait_exit PID SECONDS
# What the prefix holds, to compare before the install and after the uninstall: every file and
# folder of drive C: (without the temporary folders, which Wine and the uninstaller's own
# running copy use) and every registry key of the machine's and the user's software, but for
# the sound devices, which Wine enters when a program first opens its sound.
snapshot() {  # out
  (cd "$DRIVE_C" && find . -path '*/Temp' -prune -o -path './windows/temp' -prune -o -print | LC_ALL=C sort) > "$1.files"
  local hive
  for hive in HKLM HKCU; do
    "$WINE" reg export "$hive\\Software" "$T/$hive.reg" /y > /dev/null 2>&1
    iconv -f UTF-16LE -t UTF-8 "$T/$hive.reg" 2> /dev/null | tr -d '\r' | grep '^\[' | grep -v '\\MMDevices[]\\]'
  done | LC_ALL=C sort > "$1.keys"
}

snapshot "$T/before"

# 1. A silent install.
"$WINE" "$SETUP" /S > "$T/setup.log" 2>&1 &
PID=$!
wait_exit $PID 60
PID=
DIR="$DRIVE_C/Program Files/Korva"
SHORTCUT="$DRIVE_C/ProgramData/Microsoft/Windows/Start Menu/Programs/Korva Video Player.lnk"
if [ "$RC" = 0 ] && [ -f "$DIR/korvaplay.exe" ] && [ -f "$DIR/krvtool.exe" ] && [ -f "$DIR/krvenc.exe" ] &&
   [ -f "$DIR/README.txt" ] && [ -f "$DIR/uninstall.exe" ] && [ -f "$SHORTCUT" ] &&
   cmp -s "$DIR/korvaplay.exe" "$WINBUILD/korvaplay.exe"; then
  pass "the silent install puts the player, the tools, the README, the uninstaller and the Start menu entry in place"
else
  fail "silent install: exit $RC; in Program Files\\Korva: $(ls "$DIR" 2> /dev/null | tr '\n' ' ');" \
       "Start menu entry: $([ -f "$SHORTCUT" ] && echo yes || echo no)"
fi

# 2. The association and the uninstall entry, as the registry holds them.
INSTALLED='C:\Program Files\Korva'
check_value() {  # key name want
  local got
  got=$(reg_value "$1" "$2") || { NOTES+=" $1 [${2:-default}] is missing;"; return 1; }
  [ "$got" = "$3" ] || { NOTES+=" $1 [${2:-default}] is '$got', not '$3';"; return 1; }
}
NOTES=""
check_value 'HKCR\.krv' "" "Korva.Movie"
check_value 'HKCR\Korva.Movie' "" "Korva movie"
check_value 'HKCR\Korva.Movie\DefaultIcon' "" "$INSTALLED\\korvaplay.exe,0"
check_value 'HKCR\Korva.Movie\shell\open\command' "" "\"$INSTALLED\\korvaplay.exe\" \"%1\""
[ -z "$NOTES" ] && pass "the .krv association: Korva.Movie with the player's icon, opened by '\"$INSTALLED\\korvaplay.exe\" \"%1\"'" ||
  fail "association:$NOTES"
NOTES=""
U='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Korva'
check_value "$U" DisplayName "Korva"
check_value "$U" DisplayVersion "$VERSION"
check_value "$U" Publisher "Korva"
check_value "$U" DisplayIcon "$INSTALLED\\korvaplay.exe,0"
check_value "$U" UninstallString "\"$INSTALLED\\uninstall.exe\""
[ -z "$NOTES" ] && pass "the uninstall entry: Korva, version $VERSION by Korva, its icon and uninstaller" || fail "uninstall entry:$NOTES"

# 3. A movie in a folder with blanks, opened through the association.
FRAME_W=160 FRAME_H=120
mkdir -p "$T/My Movies"
MOVIE="$T/My Movies/intro film.krv"
"$K" sample "$MOVIE" --frames 80 --size ${FRAME_W}x${FRAME_H} --no-sound > /dev/null
mkdir -p "$T/frames"
"$K" frames "$MOVIE" "$T/frames" --format 3 > /dev/null
for f in "$T"/frames/*.png; do convert "$f" -depth 8 "rgb:${f%.png}.rgb"; done

# The viewable window of that title (Wine keeps unmapped X windows of a title too).
window_id() {
  local id
  for id in $(xwininfo -root -tree | grep "\"$1\"" | awk '{print $1}'); do
    xwininfo -id "$id" 2> /dev/null | grep -q "IsViewable" && { echo "$id"; return 0; }
  done
}
wait_window() {  # title: its id, within 20 s
  local id
  for _ in $(seq 200); do
    id=$(window_id "$1")
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.1
  done
  return 1
}
shot() { xwd -id "$1" -silent | convert xwd:- -depth 8 "rgb:$2"; }
window_width() { xwininfo -id "$1" 2> /dev/null | awk '/Width:/{print $2}'; }
# The index of the frame that the shot's top-left picture equals, or nothing.
frame_of() {  # shot.rgb window_width
  local f
  head -c $(($2 * FRAME_H * 3)) "$1" | od -An -v -tx1 -w$(($2 * 3)) | cut -c1-$((FRAME_W * 9)) > "$T/crop.txt"
  for f in "$T"/frames/frame_*.rgb; do
    [ -f "$f.txt" ] || od -An -v -tx1 -w$((FRAME_W * 3)) "$f" > "$f.txt"
    cmp -s "$f.txt" "$T/crop.txt" && { basename "$f" .rgb | sed 's/frame_0*//; s/^$/0/'; return 0; }
  done
  return 1
}

"$WINE" start /wait /unix "$MOVIE" > "$T/start.log" 2>&1 &
PID=$!
if w=$(wait_window "Korva Video Player"); then
  # The movie plays: a frame after its first one on the screen, exactly, within its 8 s.
  frame=""
  for _ in $(seq 80); do
    ww=$(window_width "$w") && shot "$w" "$T/shot.rgb" 2> /dev/null && frame=$(frame_of "$T/shot.rgb" "$ww") &&
      [ "$frame" -gt 0 ] && break
    frame=""
  done
  xdotool windowfocus --sync "$w" > /dev/null 2>&1
  xdotool key --window "$w" Escape 2> /dev/null
  wait_exit $PID 15
  if [ -n "$frame" ] && [ "$RC" = 0 ]; then
    pass "'My Movies\\intro film.krv' opened through the association plays: the window shows its frame $frame exactly; Escape ends it"
  else
    fail "opened through the association: frame '$frame' on the screen, exit $RC"
  fi
else
  boxes=$(xwininfo -root -tree | grep -o '"Korva[^"]*"' | sort -u | tr '\n' ' ')
  wait_exit $PID 1
  fail "opened through the association: no player window (windows: ${boxes:-none})"
fi
PID=

# 4. A silent uninstall: its program copies itself away and ends at once, the copy removes
#    everything; wait until the uninstall entry and the folder are gone.
uninstall=$(reg_value "$U" UninstallString)
uninstall=${uninstall//\"/}
"$WINE" "$uninstall" /S > "$T/uninstall.log" 2>&1 &
PID=$!
wait_exit $PID 30
PID=
for _ in $(seq 300); do
  [ ! -e "$DIR" ] && ! reg_key_exists "$U" && break
  sleep 0.1
done
snapshot "$T/after"
NOTES=""
left_files=$(LC_ALL=C comm -13 "$T/before.files" "$T/after.files")
left_keys=$(LC_ALL=C comm -13 "$T/before.keys" "$T/after.keys")
[ "$RC" = 0 ] || NOTES+=" the uninstaller ended with $RC;"
[ -z "$left_files" ] || NOTES+=" files left: $(echo "$left_files" | head -5 | tr '\n' ' ');"
[ -z "$left_keys" ] || NOTES+=" keys left: $(echo "$left_keys" | head -5 | tr '\n' ' ');"
for key in 'HKCR\.krv' 'HKCR\Korva.Movie' "$U"; do
  reg_key_exists "$key" && NOTES+=" $key is still there;"
done
[ -z "$NOTES" ] && pass "the silent uninstall leaves no file and no registry key behind" || fail "uninstall:$NOTES"

if [ $FAILS -ne 0 ]; then
  echo "$FAILS end-to-end checks of the Windows installer failed"
  exit 1
fi
echo "every end-to-end check of the Windows installer passed"
