#!/usr/bin/env bash
# The encoder's figures, in one run:
#  1. PSNR against bitrate: krvenc --bitrate KBPS beside VP8 (Debian vpx-tools: vpxenc --good
#     --cpu-used=1, two passes, --target-bitrate=KBPS) on the same clip at the same four rates,
#     for a 320 x 240 and a 1280 x 720 clip of two kinds: the demo movie (cartoon-like) and a
#     camera pan and zoom over a procedural landscape with grain (y4m_pan). Both encoders' output
#     is decoded to Y4M (krvtool frames --y4m, vpxdec) and measured by the same program
#     (y4m_psnr: per-frame MSE averaged over the frames, then 10 log10(255²/MSE); overall = MSE
#     over all samples, Y:U:V weighted 4:1:1). kbps is that of the video alone (krvenc's "video"
#     figure; the IVF file less its 32-byte header and 12 bytes a frame). "gap" is krvenc minus
#     VP8 at the same target; "gap@rate" compares with VP8's curve read at krvenc's achieved rate
#     (straight lines in log kbps between VP8's points, extended from the nearest two and then
#     marked "extrapolated": VP8 stops short of high targets on easy clips).
#  2. krvenc's speed at --speed 0..4, default quality, on a 640 x 480 and a 1920 x 1080 clip of
#     each kind: frames per second of CPU time (user + system, i.e. one core: krvenc's thread
#     count is watched and printed) and of wall time.
#
#   tests/bench/encoder_figures.sh BUILD_DIR     (a build with -DKORVA_BENCH=ON)
set -uo pipefail
B=$(cd "${1:?usage: encoder_figures.sh BUILD_DIR}" && pwd)
KRVENC=$B/krvenc KRVTOOL=$B/krvtool PAN=$B/tests/bench/y4m_pan PSNR=$B/tests/bench/y4m_psnr
for p in "$KRVENC" "$KRVTOOL" "$PAN" "$PSNR"; do
  [ -x "$p" ] || { echo "missing $p: build $B with -DKORVA_BENCH=ON" >&2; exit 1; }
done
if ! command -v vpxenc > /dev/null || ! command -v vpxdec > /dev/null; then
  echo "installing vpx-tools (the peer of this benchmark only)" >&2
  apt-get install -y vpx-tools > /dev/null 2>&1 || { echo "cannot install vpx-tools" >&2; exit 1; }
fi
T=$(mktemp -d /tmp/korva-encfig.XXXXXX)
trap 'rm -rf "$T"' EXIT
RATE_320="250 500 1000 2000"
RATE_1280="1500 3000 6000 12000"

# clip KIND W H FRAMES -> prints the path of a 25 fps 4:2:0 Y4M clip
clip() {
  local f=$T/$1-$2x$3-$4.y4m
  if [ ! -f "$f" ]; then
    if [ "$1" = demo ]; then
      "$KRVTOOL" sample "$T/demo.krv" --demo --size "$2x$3" --frames "$4" --rate 25 > /dev/null &&
        "$KRVTOOL" frames "$T/demo.krv" --y4m "$f" > /dev/null || { echo "no demo clip" >&2; exit 1; }
    else
      "$PAN" "$2" "$3" "$4" "$f" || { echo "no pan clip" >&2; exit 1; }
    fi
  fi
  echo "$f"
}

# psnr SOURCE DECODED -> "Y U V overall"
psnr() { "$PSNR" "$1" "$2" | awk '{ print $2, $4, $6, $8 }'; }

# One rate point of krvenc: prints "kbps Y overall", its block line to $T/blocks.
krvenc_point() {  # SRC KBPS
  local out
  out=$("$KRVENC" "$1" -o "$T/k.krv" --bitrate "$2" 2>&1) || { echo "krvenc failed: $out" >&2; echo "0 0 0"; return; }
  "$KRVTOOL" frames "$T/k.krv" --y4m "$T/k.y4m" > /dev/null
  local kbps q
  kbps=$(sed -n 's/.*(video \([0-9.]*\) kbps).*/\1/p' <<< "$out")
  q=$(sed -n 's/.*quality \([0-9.]*\).*/\1/p' <<< "$out" | tail -1)
  printf '  %-18s %6s kbps: q %-5s %s\n' "$LABEL" "$2" "$q" "$(grep '^blocks:' <<< "$out" | sed 's/^blocks: //')" >> "$T/blocks"
  read -r y _ _ o < <(psnr "$1" "$T/k.y4m")
  echo "$kbps $y $o"
}

vp8_point() {  # SRC KBPS FRAMES
  vpxenc --codec=vp8 --good --cpu-used=1 --passes=2 --target-bitrate="$2" --psnr --ivf \
    -o "$T/v.ivf" "$1" > /dev/null 2>&1 || { echo "vpxenc failed" >&2; echo "0 0 0"; return; }
  vpxdec -o "$T/v.y4m" "$T/v.ivf" > /dev/null 2>&1 || { echo "vpxdec failed" >&2; echo "0 0 0"; return; }
  local bytes
  bytes=$(($(stat -c %s "$T/v.ivf") - 32 - 12 * $3))
  read -r y _ _ o < <(psnr "$1" "$T/v.y4m")
  awk -v b="$bytes" -v n="$3" -v y="$y" -v o="$o" 'BEGIN { printf "%.1f %s %s\n", b * 8 / (n / 25) / 1000, y, o }'
}

echo "== PSNR against bitrate: krvenc --bitrate beside VP8 (vpxenc --good --cpu-used=1, 2 passes) =="
echo "   PSNR from y4m_psnr on both decoded outputs: mean per-frame MSE -> dB; overall = Y:U:V 4:1:1"
printf '%-18s %6s | %8s %6s %6s | %8s %6s %6s | %6s %6s | %8s\n' clip target "krv kbps" Y all "VP8 kbps" Y all "gap" "gap Y" "gap@rate"
: > "$T/blocks"
for point in "demo 320 240 60" "pan 320 240 60" "demo 1280 720 30" "pan 1280 720 30"; do
  read -r kind w h n <<< "$point"
  src=$(clip "$kind" "$w" "$h" "$n") || exit 1
  LABEL="$kind ${w}x$h"
  rates=$RATE_320
  [ "$w" -gt 320 ] && rates=$RATE_1280
  : > "$T/rows"
  for r in $rates; do
    echo "$r $(krvenc_point "$src" "$r") $(vp8_point "$src" "$r" "$n")" >> "$T/rows"
  done
  # columns: target kkbps kY kAll vkbps vY vAll
  awk -v label="$LABEL" '
    { t[NR] = $1; kk[NR] = $2; ky[NR] = $3; ka[NR] = $4; vk[NR] = $5; vy[NR] = $6; va[NR] = $7 }
    END {
      for (i = 1; i <= NR; ++i) {
        # VP8 overall PSNR at krvenc achieved rate, linear in log(kbps) between neighbouring points.
        j = 1
        while (j < NR - 1 && vk[j + 1] < kk[i]) ++j
        s = (va[j + 1] - va[j]) / (log(vk[j + 1]) - log(vk[j]))
        at = va[j] + s * (log(kk[i]) - log(vk[j]))
        lo = hi = vk[1]
        for (k = 2; k <= NR; ++k) { if (vk[k] < lo) lo = vk[k]; if (vk[k] > hi) hi = vk[k] }
        printf "%-18s %6d | %8.1f %6.2f %6.2f | %8.1f %6.2f %6.2f | %+6.2f %+6.2f | %+8.2f%s\n",
               label, t[i], kk[i], ky[i], ka[i], vk[i], vy[i], va[i], ka[i] - va[i], ky[i] - vy[i], ka[i] - at,
               (kk[i] < lo || kk[i] > hi) ? " (extrapolated)" : ""
      }
    }' "$T/rows"
done
echo
echo "krvenc's chosen quality and share of blocks of each kind, per point:"
cat "$T/blocks"

echo
echo "== krvenc speed, default quality, by --speed (fps of CPU time = one core; fps of wall time) =="
printf '%-20s %5s | %8s %8s | %7s | %s\n' clip speed "fps CPU" "fps wall" threads "krvenc summary"
for point in "demo 640 480 30" "pan 640 480 30" "demo 1920 1080 15" "pan 1920 1080 15"; do
  read -r kind w h n <<< "$point"
  src=$(clip "$kind" "$w" "$h" "$n") || exit 1
  for s in 0 1 2 3 4; do
    ( TIMEFORMAT='%R %U %S'; time "$KRVENC" "$src" -o "$T/s.krv" --speed "$s" > "$T/s.out" 2>&1 ) 2> "$T/s.time" &
    bg=$!
    threads=0
    while kill -0 "$bg" 2> /dev/null; do
      for c in $(pgrep -P "$bg"); do
        t=$(awk '/^Threads:/ { print $2 }' "/proc/$c/status" 2> /dev/null)
        [ -n "$t" ] && [ "$t" -gt "$threads" ] && threads=$t
      done
      sleep 0.05
    done
    wait "$bg"
    summary=$(grep -o 'coded in [0-9.]* s ([0-9.]* fps)' "$T/s.out" | head -1)
    psnr_line=$(grep -o 'overall [0-9.]* dB' "$T/s.out" | head -1)
    read -r real user sys < "$T/s.time"
    awk -v l="$kind ${w}x$h" -v s="$s" -v n="$n" -v r="$real" -v u="$user" -v y="$sys" -v th="$threads" \
        -v sum="$summary, $psnr_line, $(($(stat -c %s "$T/s.krv") / 1024)) KiB" \
      'BEGIN { printf "%-20s %5d | %8.1f %8.1f | %7s | %s\n", l, s, n / (u + y), n / r, th, sum }'
  done
done
