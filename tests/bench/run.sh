#!/usr/bin/env bash
# The speed table, in one run and on one thread: builds the release benchmarks, makes the clips
# it needs with our own tools, and prints every row with the peer's figure beside ours:
#   - 1080p decoding of the generated typical and intra-heavy streams (bench_video),
#   - a natural 1080p clip (y4m_pan) coded at 8 Mbit/s by krvenc and by VP8 (Debian vpx-tools,
#     vpxenc --good --cpu-used=1, two passes; benchmark only): our decoding fps against
#     vpxdec --threads=1 on the same clip (best of three runs each),
#   - the SIMD conversion to YUY2 (code 13) and 5-6-5 (code 10) against libyuv, and the
#     changed-block path at 20 % changed blocks against the whole frame (bench_convert),
#   - 44.1 kHz stereo DCT and real-DFT sound decoding, in multiples of real time (bench_audio).
#
#   tests/bench/run.sh [BUILD_DIR]     (default build/bench, configured Release here)
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
B=${1:-$ROOT/build/bench}
FRAMES=${KORVA_BENCH_FRAMES:-48}
JOBS=$(nproc 2>/dev/null || echo 2)

echo "== building the release benchmarks in $B" >&2
cmake -S "$ROOT" -B "$B" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKORVA_TESTS=OFF -DKORVA_BENCH=ON > /dev/null &&
  cmake --build "$B" -j "$JOBS" --target bench_video bench_convert bench_audio krvenc y4m_pan krv_decode_speed \
    > /dev/null || { echo "the build failed" >&2; exit 1; }
if ! command -v vpxenc > /dev/null || ! command -v vpxdec > /dev/null; then
  echo "installing vpx-tools (the peer of this benchmark only)" >&2
  apt-get install -y vpx-tools > /dev/null 2>&1 || echo "cannot install vpx-tools: no VP8 row" >&2
fi
T=$(mktemp -d /tmp/korva-speed.XXXXXX)
trap 'rm -rf "$T"' EXIT
BV=$B/tests/bench
NOCOLOR=--benchmark_color=false

# counter NAME_PATTERN COUNTER FILE -> the counter's value (k and M suffixes expanded), from
# either "name=value" fields or the console table's column of that name
counter() {
  sed 's/\x1b\[[0-9;]*m//g' "$3" | awk -v pat="$1" -v key="$2" '
    function num(v,  m) {
      sub(/\/s$/, "", v); m = 1
      if (v ~ /k$/) { m = 1e3; sub(/k$/, "", v) } else if (v ~ /M$/) { m = 1e6; sub(/M$/, "", v) }
      return sprintf("%.1f", v * m)
    }
    $1 == "Benchmark" { col = 0; for (i = 1; i <= NF; ++i) if ($i == key) col = NF - i + 1 }
    $0 ~ pat {
      for (i = 1; i <= NF; ++i) if (index($i, key "=") == 1) { print num(substr($i, length(key) + 2)); exit }
      if (col) { print num($(NF - col + 1)); exit }
    }'
}

echo "== video decoding (bench_video)" >&2
"$BV/bench_video" $NOCOLOR --benchmark_filter='w:1920' --benchmark_min_time=1 > "$T/video.txt" 2>&1
typical=$(counter 'kind:1/w:1920' fps "$T/video.txt")
intra=$(counter 'kind:0/w:1920' fps "$T/video.txt")

echo "== the natural 1080p clip at 8 Mbit/s ($FRAMES frames; both encoders take a while)" >&2
"$BV/y4m_pan" 1920 1080 "$FRAMES" "$T/clip.y4m" || { echo "no clip" >&2; exit 1; }
"$B/krvenc" "$T/clip.y4m" -o "$T/clip.krv" --bitrate 8000 > "$T/krvenc.txt" 2>&1 || cat "$T/krvenc.txt" >&2
krv_fps=$("$BV/krv_decode_speed" "$T/clip.krv" 3 | awk '{ print $2 }')
krv_kbps=$(sed -n 's/.*(video \([0-9.]*\) kbps).*/\1/p' "$T/krvenc.txt")
vpx_fps="" vpx_kbps=""
if command -v vpxenc > /dev/null; then
  vpxenc --codec=vp8 --good --cpu-used=1 --passes=2 --target-bitrate=8000 --ivf -o "$T/clip.ivf" "$T/clip.y4m" \
    > /dev/null 2>&1
  vpx_kbps=$(awk -v b="$(stat -c %s "$T/clip.ivf")" -v n="$FRAMES" 'BEGIN { printf "%.1f", (b - 32 - 12 * n) * 8 / (n / 25) / 1000 }')
  for i in 1 2 3; do
    vpxdec --threads=1 --noblit --summary "$T/clip.ivf" 2>&1 | sed -n 's/.*(\([0-9.]*\) fps).*/\1/p'
  done > "$T/vpx_fps.txt"
  vpx_fps=$(sort -g "$T/vpx_fps.txt" | tail -1)
fi

echo "== pixel conversion (bench_convert)" >&2
"$BV/bench_convert" $NOCOLOR --benchmark_min_time=0.5 > "$T/convert.txt" 2>&1
yuy2=$(awk '/ours \/ peer/ { on = 1 } on && $1 == 13 { print $3; exit }' "$T/convert.txt")
rgb565=$(awk '/ours \/ peer/ { on = 1 } on && $1 == 10 { print $3; exit }' "$T/convert.txt")
changed=$(sed -n 's/.*changed blocks (20 %) \/ whole frame.*SIMD \([0-9.]*\).*/\1/p' "$T/convert.txt")

echo "== sound decoding (bench_audio)" >&2
"$BV/bench_audio" $NOCOLOR --benchmark_filter=Decode --benchmark_min_time=0.5 > "$T/audio.txt" 2>&1

echo
echo "Speed, single thread, on $(grep -m1 'model name' /proc/cpuinfo | sed 's/.*: //') ($(nproc) cores)"
printf '%-58s %14s %14s %8s\n' measure ours peer target
printf '%-58s %10s fps %14s %8s\n' "1080p typical stream, decode" "$typical" "" ">= 400"
printf '%-58s %10s fps %14s %8s\n' "1080p intra-heavy stream, decode" "$intra" "" ">= 100"
if [ -n "$vpx_fps" ]; then
  ratio=$(awk -v a="$krv_fps" -v b="$vpx_fps" 'BEGIN { if (b > 0) printf "%.2f", a / b }')
  printf '%-58s %10s fps %10s fps %8s\n' "natural 1080p clip at 8 Mbit/s, decode (ratio $ratio)" "$krv_fps" "$vpx_fps" ">= 3x"
  printf '%-58s %9s kbps %9s kbps\n' "   (the two files' video rates)" "$krv_kbps" "$vpx_kbps"
else
  printf '%-58s %10s fps %14s\n' "natural 1080p clip at 8 Mbit/s, decode" "$krv_fps" "(no vpxdec)"
fi
printf '%-58s %14s %14s %8s\n' "SIMD conversion to YUY2 (13), time / libyuv I420ToYUY2" "$yuy2" "1" "<= 1.1"
printf '%-58s %14s %14s %8s\n' "SIMD conversion to 5-6-5 (10), time / libyuv I420ToRGB565" "$rgb565" "1" "<= 1.0"
printf '%-58s %14s %14s %8s\n' "changed blocks (20 %) / whole frame, SIMD, time" "$changed" "" "<= 0.35"
for a in 7 15 63; do
  printf '%-58s %11sx rt %14s %8s\n' "sound decode, 44.1 kHz stereo DCT, band peak $a" \
    "$(counter "DecodeDctStereo44100/$a " realtime "$T/audio.txt")" "" ">= 3000"
done
for a in 7 15 63; do
  printf '%-58s %11sx rt\n' "sound decode, 44.1 kHz stereo real DFT, band peak $a" \
    "$(counter "DecodeRdftStereo44100/$a " realtime "$T/audio.txt")"
done
