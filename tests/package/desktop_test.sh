#!/usr/bin/env bash
# Korva on a Linux desktop, as a user meets it: installed into a temporary prefix, the desktop
# entry validates, .krv movies are known by their name and by their first bytes (a movie
# renamed .bin too), the player is their default application, the thumbnailer run as a file
# manager runs it writes the right picture at the right size, the icons are the drawing's and
# the manual pages read cleanly; then the Debian package: its control data and contents,
# lintian without errors, and dpkg -i / dpkg -r on this machine (as root), the installed player
# playing a movie under Xvfb in between, and nothing left behind.
#
# It waits for states (a window, a frame on the screen, a process's end), never fixed times.
#
#   tests/package/desktop_test.sh BUILD_DIR PACKAGES_DIR
#     BUILD_DIR: a build configured with -DKORVA_SHARED=ON (its package in PACKAGES_DIR)
#     needs: desktop-file-utils shared-mime-info xdg-utils libfile-mimeinfo-perl lintian
#            xvfb x11-utils imagemagick python3, and root for dpkg
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
B=$(cd "$1" && pwd)
DEB_DIR=$(cd "$2" && pwd)
T=$(mktemp -d /tmp/korva-desktop.XXXXXX)
P=$T/prefix
DISPLAY_NUMBER=${KORVA_DESKTOP_DISPLAY:-75}
FAILS=0
INSTALLED=""
PIDS=()

cleanup() {
  local pid
  for pid in "${PIDS[@]}"; do kill -9 "$pid" 2> /dev/null && wait "$pid" 2> /dev/null; done
  # A package this test installed never stays on the machine.
  [ -n "$INSTALLED" ] && dpkg -r korva > /dev/null 2>&1
  rm -rf "$T"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; FAILS=$((FAILS + 1)); }
pass() { echo "ok: $*"; }
. "$(dirname "${BASH_SOURCE[0]}")/../e2e/wait_exit.sh"  # wait_exit PID SECONDS

shopt -s nullglob
debs=("$DEB_DIR"/korva_*_amd64.deb)
shopt -u nullglob
[ ${#debs[@]} -eq 1 ] || { echo "FAIL: $DEB_DIR holds ${#debs[@]} korva_*_amd64.deb packages, not one"; exit 1; }
DEB=${debs[0]}

# An installed korva would answer for the prefix below, and the install check would change it.
if dpkg-query -W -f='${Status}' korva 2> /dev/null | grep -q "ok installed"; then
  echo "FAIL: korva is installed on this machine; remove it (dpkg -r korva) before this test"
  exit 1
fi

# lintian takes a while: it runs beside the checks below and is read at the end.
lintian "$DEB" > "$T/lintian.txt" 2>&1 &
LINTIAN_PID=$!
PIDS+=("$LINTIAN_PID")

cmake --install "$B" --prefix "$P" > "$T/install.log" 2>&1 || { cat "$T/install.log"; echo "FAIL: cmake --install"; exit 1; }
(cd "$P" && find . ! -type d | sed 's|^\./||' | sort) > "$T/prefix.txt"  # before any cache is made
K=$P/bin/krvtool
"$K" sample "$T/movie.krv" --demo --frames 50 > /dev/null
cp "$T/movie.krv" "$T/renamed.bin"
printf 'KRV is three letters, and this is a text file\n' > "$T/text.bin"

echo "-- the installed desktop files"
missing=""
for f in share/applications/korva.desktop share/mime/packages/korva.xml share/thumbnailers/korva.thumbnailer \
         share/icons/hicolor/scalable/apps/korva.svg share/icons/hicolor/scalable/mimetypes/video-x-krv.svg \
         share/man/man1/korvaplay.1.gz share/man/man1/krvtool.1.gz share/man/man1/krvenc.1.gz; do
  [ -s "$P/$f" ] || missing+=" $f"
done
for s in 16 22 24 32 48 64 128 256; do
  for f in apps/korva mimetypes/video-x-krv; do
    png=$P/share/icons/hicolor/${s}x$s/$f.png
    [ "$(identify -format %wx%h "$png" 2> /dev/null)" = "${s}x$s" ] || missing+=" ${s}x$s/$f.png"
  done
done
[ -z "$missing" ] && pass "desktop entry, MIME type, thumbnailer, icons of every size and manual pages installed" ||
  fail "missing or wrong:$missing"
if out=$(python3 "$ROOT/packaging/make_icons.py" --check 2>&1); then
  pass "the icons are the drawing's, which is the Windows icon's"
else
  fail "$out"
fi
if out=$(desktop-file-validate "$P/share/applications/korva.desktop" 2>&1) && [ -z "$out" ]; then
  pass "desktop-file-validate accepts korva.desktop"
else
  fail "desktop-file-validate: $out"
fi
grep -qx 'Exec=korvaplay %F' "$P/share/applications/korva.desktop" &&
  grep -qx 'MimeType=video/x-krv;' "$P/share/applications/korva.desktop" ||
  fail "korva.desktop does not start korvaplay with the files for video/x-krv"
warnings=""
for page in "$P"/share/man/man1/*.1.gz; do
  w=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 > "$T/page.txt")
  [ -n "$w" ] && warnings+="$(basename "$page"): $w "
  grep -q "^NAME" "$T/page.txt" && grep -q "^DESCRIPTION" "$T/page.txt" || warnings+="$(basename "$page"): no NAME/DESCRIPTION "
done
grep -q "thumbnail MOVIE OUT.png" <(zcat "$P/share/man/man1/krvtool.1.gz" | sed 's/\\-/-/g') ||
  warnings+="krvtool.1 lacks the thumbnail command "
[ -z "$warnings" ] && pass "the manual pages read without a warning and carry the help texts" || fail "$warnings"

echo "-- the MIME type and the default application, as a desktop without its own tools finds them"
update-mime-database "$P/share/mime" > "$T/mime.log" 2>&1 || fail "update-mime-database: $(head -c 300 "$T/mime.log")"
update-desktop-database "$P/share/applications" || fail "update-desktop-database"
mkdir -p "$T/home" "$T/config" "$T/xdg"
# Only the prefix and the system's own data: no desktop session, no user's choices.
in_prefix() {
  env -u DISPLAY -u WAYLAND_DISPLAY -u XDG_CURRENT_DESKTOP -u DESKTOP_SESSION -u KDE_FULL_SESSION \
      -u GNOME_DESKTOP_SESSION_ID HOME="$T/home" XDG_DATA_HOME="$T/home/.local/share" \
      XDG_CONFIG_HOME="$T/config" XDG_CONFIG_DIRS="$T/xdg" XDG_DATA_DIRS="$P/share:/usr/share" "$@"
}
for f in movie.krv renamed.bin; do
  type=$(in_prefix xdg-mime query filetype "$T/$f" 2>&1)
  [ "$type" = video/x-krv ] && pass "xdg-mime: $f is video/x-krv" || fail "xdg-mime: $f is '$type', not video/x-krv"
done
type=$(in_prefix xdg-mime query filetype "$T/text.bin" 2>&1)
[ "$type" != video/x-krv ] && pass "xdg-mime: a text file named .bin stays $type" ||
  fail "xdg-mime: a text file named .bin is taken for a Korva movie"
app=$(in_prefix xdg-mime query default video/x-krv 2>&1)
[ "$app" = korva.desktop ] && pass "xdg-mime: video/x-krv opens with korva.desktop" ||
  fail "xdg-mime: video/x-krv opens with '$app', not korva.desktop"

echo "-- the thumbnailer, as a file manager runs it"
mkdir -p "$T/fit"
exec_line=$(sed -n 's/^Exec=//p' "$P/share/thumbnailers/korva.thumbnailer")
grep -qx 'MimeType=video/x-krv;' "$P/share/thumbnailers/korva.thumbnailer" || fail "the thumbnailer is not for video/x-krv"
# The frame the thumbnailer takes, every frame exactly as `krvtool frames` shows it.
mkdir -p "$T/frames"
"$K" frames "$T/movie.krv" "$T/frames" --format 2 > /dev/null
thumbnail() {  # input, output, size: the Exec line filled in (%i, %o, %s) and run from PATH
  local line=${exec_line//%i/$1}
  line=${line//%o/$2}
  line=${line//%s/$3}
  # shellcheck disable=SC2086
  PATH="$P/bin:$PATH" $line
}
for size in 128 256 320 100; do
  out=$T/thumb-$size.png
  if ! said=$(thumbnail "$T/renamed.bin" "$out" "$size"); then fail "thumbnail --size $size failed"; continue; fi
  frame=$(echo "$said" | sed -n 's/^frame \([0-9]*\) of.*/\1/p')
  ref=$T/frames/frame_$(printf %06d "${frame:-0}").png
  if [ "$size" -ge 320 ]; then want=320x240; else want=${size}x$((size * 3 / 4)); fi
  got=$(identify -format %wx%h "$out" 2> /dev/null)
  [ "$got" = "$want" ] || { fail "thumbnail --size $size is '$got', not $want"; continue; }
  [ -e "$out.part" ] && fail "thumbnail --size $size left $out.part behind"
  if [ "$size" -ge 320 ]; then
    # Not shrunk: the frame itself, exactly.
    cmp -s <(convert "$out" rgb:-) <(convert "$ref" rgb:-) &&
      pass "thumbnail at the movie's size is frame $frame of krvtool frames exactly" ||
      fail "thumbnail at the movie's size differs from frame $frame of krvtool frames"
    continue
  fi
  # Shrunk: the same bytes as krvtool frames --fit (one scaler, reached through a sequential
  # decode there), and within one level of ImageMagick's area average (an independent one).
  rm -rf "$T/fit"/*
  "$K" frames "$T/movie.krv" "$T/fit" --format 2 --fit "$size" > /dev/null
  fitted=$T/fit/frame_$(printf %06d "$frame").png
  cmp -s <(convert "$out" rgb:-) <(convert "$fitted" rgb:-) || { fail "thumbnail --size $size differs from frames --fit"; continue; }
  convert "$ref" -scale "$want!" "$T/im.png"
  peak=$(compare -metric PAE "$out" "$T/im.png" null: 2>&1 | sed 's/ .*//')
  [ "${peak:-99999}" -le 257 ] && pass "thumbnail --size $size: $got, frame $frame shrunk as frames --fit and ImageMagick shrink it" ||
    fail "thumbnail --size $size is '$peak' levels (of 65535) away from ImageMagick's shrunk frame $frame"
done
# The opening of the demo is dark: the thumbnail must not be.
lively=$(convert "$T/thumb-256.png" -colorspace gray -format '%[fx:mean > 0.12 && standard_deviation > 0.06]' info: 2>/dev/null)
[ "$lively" = 1 ] && pass "the thumbnail is a lively frame, not the dark opening" || fail "the thumbnail is dark or flat"
head -c 3000 "$T/movie.krv" > "$T/cut.krv"
if thumbnail "$T/cut.krv" "$T/cut.png" 128 > /dev/null 2>&1; then
  fail "thumbnail of a cut movie succeeded"
elif [ -e "$T/cut.png" ] || [ -e "$T/cut.png.part" ]; then
  fail "thumbnail of a cut movie left a file behind"
else
  pass "thumbnail of a cut movie fails and writes nothing"
fi

echo "-- the Debian package $(basename "$DEB")"
dpkg-deb --info "$DEB" > "$T/info.txt" || fail "dpkg-deb --info"
field() { sed -n "s/^ $1: //p" "$T/info.txt"; }
version=$(sed -n 's/^project(korva VERSION \([0-9.]*\).*/\1/p' "$ROOT/CMakeLists.txt")
problems=""
[ "$(field Package)" = korva ] || problems+="Package '$(field Package)' "
[ "$(field Version)" = "$version" ] || problems+="Version '$(field Version)' (the project is $version) "
[ "$(field Architecture)" = amd64 ] || problems+="Architecture '$(field Architecture)' "
for dep in libc6 libsdl2 libpng16 libstdc++6; do
  field Depends | grep -q "$dep" || problems+="Depends lacks $dep "
done
[ "$(grep -c '^  [^ ]' "$T/info.txt")" -ge 4 ] || problems+="no long description "
[ -z "$problems" ] && pass "control: korva $version amd64, Depends $(field Depends)" || fail "control: $problems"
dpkg-deb --contents "$DEB" | awk '$1 !~ /^d/ { sub(/^\.\/usr\//, "", $6); print $6 }' | sort > "$T/deb.txt"
if cmp -s "$T/deb.txt" "$T/prefix.txt"; then
  pass "the package holds exactly what cmake --install installs ($(wc -l < "$T/deb.txt") files)"
else
  fail "the package and the install differ: $(diff "$T/prefix.txt" "$T/deb.txt" | grep '^[<>]' | head -5 | tr '\n' ' ')"
fi

echo "-- dpkg -i, the installed player under Xvfb, dpkg -r"
if [ "$(id -u)" -ne 0 ]; then
  fail "dpkg -i needs root"
else
  # The directories the package brings that the machine does not have: they must go again.
  dpkg-deb --contents "$DEB" | awk '$1 ~ /^d/ { sub(/^\./, "", $6); print $6 }' |
    while read -r d; do [ -d "$d" ] || echo "$d"; done > "$T/new-dirs.txt"
  installed=false
  for _ in $(seq 60); do  # another apt or dpkg on the machine holds the lock for a while
    if dpkg -i "$DEB" > "$T/dpkg.log" 2>&1; then installed=true; break; fi
    grep -q "lock" "$T/dpkg.log" || break
    sleep 1
  done
  if $installed; then
    INSTALLED=1
    pass "dpkg -i installed korva"
    type=$(env -u XDG_DATA_DIRS -u XDG_CURRENT_DESKTOP HOME="$T/home" XDG_DATA_HOME="$T/home/.local/share" \
           xdg-mime query filetype "$T/renamed.bin" 2>&1)
    [ "$type" = video/x-krv ] && pass "installed: the system knows a movie renamed .bin as video/x-krv" ||
      fail "installed: the system takes renamed.bin for '$type'"
    grep -q "video/x-krv=.*korva.desktop" /usr/share/applications/mimeinfo.cache 2> /dev/null &&
      pass "installed: the system's desktop database opens video/x-krv with korva.desktop" ||
      fail "installed: /usr/share/applications/mimeinfo.cache does not name korva.desktop for video/x-krv"

    # The installed player plays a short demo movie to its end, under Xvfb with SDL's disk sound.
    Xvfb ":$DISPLAY_NUMBER" -noreset -screen 0 1024x768x24 -nolisten tcp > "$T/xvfb.log" 2>&1 &
    PIDS+=($!)
    export DISPLAY=":$DISPLAY_NUMBER"
    for _ in $(seq 100); do xdpyinfo > /dev/null 2>&1 && break; sleep 0.05; done
    mkdir -p "$T/player/korva" "$T/shots"
    printf '[Tesmo Video Tools]\nLastVersionCheckDate=%s\n' "$(date +%F)" > "$T/player/korva/profile.ini"
    /usr/bin/krvtool sample "$T/short.krv" --demo --frames 25 --size 160x120 > /dev/null
    /usr/bin/krvtool frames "$T/short.krv" "$T/shots" --format 3 > /dev/null
    for f in "$T/shots"/*.png; do convert "$f" -depth 8 "rgb:${f%.png}.rgb"; done
    XDG_CONFIG_HOME="$T/player" SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$T/sound.raw" \
      /usr/bin/korvaplay "$T/short.krv" 2> "$T/player.log" &
    player=$!
    PIDS+=("$player")
    shown=""
    for _ in $(seq 200); do  # a window, then one of the movie's frames in it, exactly
      w=$(xwininfo -root -tree | grep '"Korva Video Player"' | awk '{print $1}' | head -n 1)
      if [ -n "$w" ] && xwd -id "$w" -silent 2> /dev/null | convert xwd:- -depth 8 rgb:"$T/shot.rgb" 2> /dev/null; then
        for f in "$T/shots"/*.rgb; do cmp -s "$f" "$T/shot.rgb" && { shown=$(basename "$f" .rgb); break; }; done
      fi
      [ -n "$shown" ] && break
      kill -0 "$player" 2> /dev/null || break
      sleep 0.05
    done
    wait_exit "$player" 15  # 1 s of movie, then the closing picture
    if [ -n "$shown" ] && [ "$RC" = 0 ] && [ -s "$T/sound.raw" ]; then
      pass "the installed korvaplay showed ${shown/frame_/frame } exactly, played $(stat -c %s "$T/sound.raw") bytes of sound and ended with 0"
    else
      fail "the installed korvaplay: frame shown '${shown}', exit code $RC, sound $(stat -c %s "$T/sound.raw" 2>/dev/null || echo none) ($(head -c 300 "$T/player.log"))"
    fi

    if dpkg -r korva > "$T/dpkg.log" 2>&1; then
      INSTALLED=""
      left=""
      while read -r f; do [ -e "/usr/$f" ] || [ -L "/usr/$f" ] && left+=" /usr/$f"; done < "$T/deb.txt"
      while read -r d; do [ -d "$d" ] && left+=" $d/"; done < "$T/new-dirs.txt"
      status=$(dpkg-query -W -f='${db:Status-Status}' korva 2> /dev/null || echo not-installed)
      if [ -z "$left" ] && [ "$status" = not-installed ]; then
        pass "dpkg -r removed every file and directory it brought"
      else
        fail "after dpkg -r: status '$status', left:$(echo "$left" | cut -c1-300)"
      fi
      type=$(env -u XDG_DATA_DIRS -u XDG_CURRENT_DESKTOP HOME="$T/home" XDG_DATA_HOME="$T/home/.local/share" \
             xdg-mime query filetype "$T/renamed.bin" 2>&1)
      [ "$type" != video/x-krv ] && pass "removed: the system no longer knows video/x-krv" ||
        fail "removed: the system still takes renamed.bin for video/x-krv"
    else
      fail "dpkg -r korva: $(tail -n 3 "$T/dpkg.log")"
    fi
  else
    fail "dpkg -i: $(tail -n 5 "$T/dpkg.log")"
  fi
fi

echo "-- lintian"
wait "$LINTIAN_PID"
grep -v "^running with root privileges" "$T/lintian.txt" | sed 's/^/   /'
if grep -q "^E: " "$T/lintian.txt"; then
  fail "lintian reports errors"
else
  pass "lintian: no errors ($(grep -c '^W: ' "$T/lintian.txt") warnings, listed above)"
fi

[ "$FAILS" -eq 0 ] && { echo "desktop test passed"; exit 0; }
echo "desktop test: $FAILS check(s) failed"
exit 1
