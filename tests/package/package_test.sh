#!/usr/bin/env bash
# libkorva as another program sees it: installed into a temporary prefix; the header compiled
# alone as C99 and as C++20 with warnings as errors; the shared library's exports checked; the
# examples built against the package through CMake (shared and static) and through pkg-config
# in one command, and run: the three builds of the game loop must agree, the extracted PNG
# frames must equal `krvtool frames`, and the SDL player must play with SDL's dummy video and
# disk sound.
#
#   tests/package/package_test.sh BUILD_DIR     (a build configured with -DKORVA_SHARED=ON)
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
B=$(cd "$1" && pwd)
T=$(mktemp -d /tmp/korva-package.XXXXXX)
trap 'rm -rf "$T"' EXIT
P=$T/prefix
fail() { echo "package test: $*" >&2; exit 1; }

cmake --install "$B" --prefix "$P" > "$T/install.log" || { cat "$T/install.log"; fail "cmake --install failed"; }
for f in include/korva/korva.h lib/libkorva.a lib/cmake/Korva/KorvaConfig.cmake lib/pkgconfig/korva.pc bin/krvtool \
         bin/krvenc; do
  [ -e "$P/$f" ] || fail "the package lacks $f"
done

echo "-- the header alone, as C99 and as C++20"
printf '#include <korva/korva.h>\nint main(void) { return korva_version()[0] == 0 && KORVA_VERSION_MAJOR; }\n' > "$T/h.c"
cp "$T/h.c" "$T/h.cpp"
cc -std=c99 -pedantic -Wall -Wextra -Werror -I"$P/include" -c "$T/h.c" -o "$T/h.o"
c++ -std=c++20 -pedantic -Wall -Wextra -Werror -I"$P/include" -c "$T/h.cpp" -o "$T/hpp.o"

echo "-- libkorva.a defines only korva_ names globally"
extra=$(nm "$P/lib/libkorva.a" | awk 'NF == 3 && $2 ~ /[TDBRVWiu]/ { print $3 }' | grep -v '^korva_' || true)
[ -z "$extra" ] || { echo "$extra" | head -20; fail "libkorva.a defines more than the korva_ functions"; }

if [ -e "$P/lib/libkorva.so" ]; then
  echo "-- libkorva.so exports only korva_ names"
  extra=$(nm -D --defined-only "$P/lib/libkorva.so" | awk 'NF == 3 && $2 ~ /[TDBRVWiu]/ { print $3 }' |
          grep -v '^korva_' || true)
  [ -z "$extra" ] || { echo "$extra" | head -20; fail "libkorva.so exports more than the korva_ functions"; }
fi

echo "-- the examples through CMake (find_package(Korva)), shared and static"
cmake -S "$ROOT/examples" -B "$T/ex" -G Ninja -DCMAKE_PREFIX_PATH="$P" > "$T/ex.log" 2>&1 || { cat "$T/ex.log"; fail "configure"; }
cmake --build "$T/ex" > "$T/ex.log" 2>&1 || { cat "$T/ex.log"; fail "the examples do not build"; }
cmake -S "$ROOT/examples" -B "$T/ex-static" -G Ninja -DCMAKE_PREFIX_PATH="$P" -DKORVA_EXAMPLES_STATIC=ON \
  > "$T/exs.log" 2>&1 && cmake --build "$T/ex-static" > "$T/exs.log" 2>&1 || { cat "$T/exs.log"; fail "static build"; }
echo "-- the game loop through pkg-config, in one command"
export PKG_CONFIG_PATH="$P/lib/pkgconfig"
# shellcheck disable=SC2046
cc -std=c99 -Wall -Wextra -Werror "$ROOT/examples/game_loop.c" -o "$T/game_loop_pc" $(pkg-config --cflags --libs korva)

echo "-- running them"
"$B/krvtool" sample "$T/m.krv" --frames 30 --size 96x64 --stereo --content typical > /dev/null
export LD_LIBRARY_PATH="$P/lib"
"$T/ex/game_loop" "$T/m.krv" --fast > "$T/loop1.txt"
"$T/ex-static/game_loop" "$T/m.krv" --fast > "$T/loop2.txt"
"$T/game_loop_pc" "$T/m.krv" --fast > "$T/loop3.txt"
cat "$T/loop1.txt"
cmp -s "$T/loop1.txt" "$T/loop2.txt" && cmp -s "$T/loop1.txt" "$T/loop3.txt" || fail "the game loop builds disagree"
grep -q "^30 frames" "$T/loop1.txt" || fail "the game loop did not play 30 frames"

mkdir -p "$T/png" "$T/ref"
"$T/ex/extract_png" "$T/m.krv" "$T/png/f" 12 4
"$B/krvtool" frames "$T/m.krv" "$T/ref" --format 6 > /dev/null
for n in 12 13 14 15; do
  ours=$T/png/f$(printf %04d $n).png
  ref=$(ls "$T/ref"/frame_*.png | sed -n "${n}p")
  [ -e "$ours" ] && [ -n "$ref" ] || fail "frame $n missing"
  convert "$ours" -alpha off rgb:"$T/a.rgb"
  convert "$ref" -alpha off rgb:"$T/b.rgb"
  cmp -s "$T/a.rgb" "$T/b.rgb" || fail "extract_png frame $n differs from krvtool frames"
done
echo "extract_png frames 12 to 15 equal krvtool frames"

SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$T/sound.raw" \
  "$T/ex/play_sdl" "$T/m.krv" --frames 20 2> "$T/sdl.log" || { cat "$T/sdl.log"; fail "play_sdl failed"; }
[ -s "$T/sound.raw" ] || fail "play_sdl played no sound"
echo "play_sdl played 20 frames and $(stat -c %s "$T/sound.raw") bytes of sound"
echo "package test passed"
