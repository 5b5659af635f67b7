#!/usr/bin/env bash
# The encoder's figures, in one run:
#  1. PSNR against bitrate at 640 x 352, 25 fps, 500 to 4000 kbit/s: krvenc --bitrate KBPS beside
#     MPEG-1 (mjpegtools: mpeg2enc -f 0 -b KBPS -V 256 (a buffer that 4000 kbit/s fits), decoded by mpeg2dec of Debian mpeg2dec) and VP8
#     (Debian vpx-tools: vpxenc --good --cpu-used=1, two passes, --target-bitrate=KBPS), on four
#     clips: two camera-like ones made by y4m_camera (a pan and zoom, and a slow push-in, over a
#     detailed generated scene with grain; give PICTURE=file.ppm to film a picture of your own
#     instead), the demo movie (cartoon-like) and y4m_pan (a pan over a generated landscape).
#     Every decoded output is measured by the same program, y4m_psnr (per-frame MSE averaged over
#     the frames, then 10 log10(255²/MSE); "all" = MSE over all samples, Y:U:V weighted 4:1:1).
#     kbps is that of the video alone (krvenc's "video" figure; the MPEG-1 elementary stream; the
#     IVF file less its 32-byte header and 12 bytes a frame). "-M1" and "-VP8" are krvenc's
#     overall PSNR minus the peer's at the same target.
#  2. --bitrate: how near the target each krvenc point came, and its CPU time against one
#     fixed-quality pass at the quality it settled on.
#  3. krvenc's speed at --speed 0..4, default quality, on a 640 x 480 and a 1920 x 1080 clip of
#     the demo and the pan, and a 640 x 480 camera clip: frames per second of CPU time (user + system, i.e. one core: krvenc's thread
#     count is watched and printed) and of wall time.
#
#   tests/bench/encoder_figures.sh BUILD_DIR     (a build with -DKORVA_BENCH=ON)
#   PICTURE=photo.ppm tests/bench/encoder_figures.sh BUILD_DIR
set -uo pipefail
B=$(cd "${1:?usage: encoder_figures.sh BUILD_DIR}" && pwd)
KRVENC=$B/krvenc KRVTOOL=$B/krvtool PAN=$B/tests/bench/y4m_pan PSNR=$B/tests/bench/y4m_psnr CAMERA=$B/tests/bench/y4m_camera
for p in "$KRVENC" "$KRVTOOL" "$PAN" "$PSNR" "$CAMERA"; do
  [ -x "$p" ] || { echo "missing $p: build $B with -DKORVA_BENCH=ON" >&2; exit 1; }
done
# The peers, benchmark only. mjpegtools recommends a media player that brings the libraries this
# project keeps off the machine: install without recommendations, and refuse if they come anyway.
if ! command -v vpxenc > /dev/null || ! command -v mpeg2enc > /dev/null || ! command -v mpeg2dec > /dev/null; then
  echo "installing vpx-tools, mjpegtools and mpeg2dec (the peers of this benchmark only)" >&2
  if apt-get install -s --no-install-recommends vpx-tools mjpegtools mpeg2dec 2> /dev/null |
      grep -qE '^Inst (libavcodec|libavformat|libavfilter|libswscale)'; then
    echo "the peers would bring ffmpeg's libraries: not installed" >&2
    exit 1
  fi
  apt-get install -y --no-install-recommends vpx-tools mjpegtools mpeg2dec > /dev/null 2>&1 ||
    { echo "cannot install the peers" >&2; exit 1; }
fi
T=$(mktemp -d /tmp/korva-encfig.XXXXXX)
trap 'rm -rf "$T"' EXIT
RATES="500 1000 2000 4000"
FRAMES=50

# clip KIND W H FRAMES -> prints the path of a 25 fps 4:2:0 Y4M clip
clip() {
  local f=$T/$1-$2x$3-$4.y4m
  if [ ! -f "$f" ]; then
    case $1 in
      demo)
        "$KRVTOOL" sample "$T/demo.krv" --demo --size "$2x$3" --frames "$4" --rate 25 > /dev/null &&
          "$KRVTOOL" frames "$T/demo.krv" --y4m "$f" > /dev/null || { echo "no demo clip" >&2; exit 1; } ;;
      pan) "$PAN" "$2" "$3" "$4" "$f" || { echo "no pan clip" >&2; exit 1; } ;;
      camera|push)
        local motion=pan
        [ "$1" = push ] && motion=push
        "$CAMERA" "$2" "$3" "$4" "$f" --motion "$motion" ${PICTURE:+--picture "$PICTURE"} ||
          { echo "no camera clip" >&2; exit 1; } ;;
    esac
  fi
  echo "$f"
}

# psnr SOURCE DECODED -> "Y U V overall"
psnr() { "$PSNR" "$1" "$2" | awk '{ print $2, $4, $6, $8 }'; }
cpu() { awk '{ print $1 + $2 }' "$1"; }

# One rate point of krvenc: prints "kbps overall"; its block line to $T/blocks and its rate
# control figures to $T/rc.
krvenc_point() {  # SRC KBPS
  local out
  out=$( { /usr/bin/time -f '%U %S' -o "$T/k.time" "$KRVENC" "$1" -o "$T/k.krv" --bitrate "$2"; } 2>&1) ||
    { echo "krvenc failed: $out" >&2; echo "0 0"; return; }
  "$KRVTOOL" frames "$T/k.krv" --y4m "$T/k.y4m" > /dev/null
  local kbps q
  kbps=$(sed -n 's/.*(video \([0-9.]*\) kbps).*/\1/p' <<< "$out")
  q=$(sed -n 's/.*quality \([-0-9.]*\) (from.*/\1/p' <<< "$out" | tail -1)
  printf '  %-16s %6s kbps: q %-6s %s\n' "$LABEL" "$2" "$q" "$(grep '^blocks:' <<< "$out" | sed 's/^blocks: //')" >> "$T/blocks"
  # One fixed-quality pass at the quality the rate control settled on (its mean), for the time.
  local one=0
  if [ -n "$q" ]; then
    /usr/bin/time -f '%U %S' -o "$T/q.time" "$KRVENC" "$1" -o "$T/q.krv" --quality "$(awk -v q="$q" 'BEGIN { print (q < 0 ? 0 : q) }')" > /dev/null 2>&1
    one=$(cpu "$T/q.time")
  fi
  awk -v l="$LABEL" -v t="$2" -v k="$kbps" -v c="$(cpu "$T/k.time")" -v o="$one" -v note="$(grep -o 'note: --bitrate.*' <<< "$out")" \
    'BEGIN { printf "  %-16s %6d | %8.1f %+6.1f%% | %6.2f %6.2f %5.2fx | %s\n", l, t, k, 100 * (k - t) / t, c, o, (o > 0 ? c / o : 0), note }' >> "$T/rc"
  read -r _ _ _ o < <(psnr "$1" "$T/k.y4m")
  echo "$kbps $o"
}

mpeg1_point() {  # SRC KBPS FRAMES
  mpeg2enc -f 0 -b "$2" -V 256 -o "$T/m.m1v" < "$1" > /dev/null 2>&1 || { echo "mpeg2enc failed" >&2; echo "0 0"; return; }
  mpeg2dec -o pgmpipe "$T/m.m1v" 2> /dev/null > "$T/m.pgm" || { echo "mpeg2dec failed" >&2; echo "0 0"; return; }
  read -r _ _ _ o < <(psnr "$1" "$T/m.pgm")
  awk -v b="$(stat -c %s "$T/m.m1v")" -v n="$3" -v o="$o" 'BEGIN { printf "%.1f %s\n", b * 8 / (n / 25) / 1000, o }'
}

vp8_point() {  # SRC KBPS FRAMES
  vpxenc --codec=vp8 --good --cpu-used=1 --passes=2 --target-bitrate="$2" --ivf \
    -o "$T/v.ivf" "$1" > /dev/null 2>&1 || { echo "vpxenc failed" >&2; echo "0 0"; return; }
  vpxdec -o "$T/v.y4m" "$T/v.ivf" > /dev/null 2>&1 || { echo "vpxdec failed" >&2; echo "0 0"; return; }
  local bytes
  bytes=$(($(stat -c %s "$T/v.ivf") - 32 - 12 * $3))
  read -r _ _ _ o < <(psnr "$1" "$T/v.y4m")
  awk -v b="$bytes" -v n="$3" -v o="$o" 'BEGIN { printf "%.1f %s\n", b * 8 / (n / 25) / 1000, o }'
}

echo "== PSNR against bitrate, 640 x 352, 25 fps, $FRAMES frames: krvenc --bitrate, MPEG-1 (mpeg2enc -f 0), VP8 (vpxenc --good --cpu-used=1, 2 passes) =="
echo "   overall PSNR (Y:U:V 4:1:1) from y4m_psnr on every decoded output; kbps of the video alone"
printf '%-16s %6s | %8s %6s | %8s %6s | %8s %6s | %6s %6s\n' clip target "krv kbps" all "M1 kbps" all "VP8 kbps" all "-M1" "-VP8"
: > "$T/blocks"
: > "$T/rc"
for kind in camera push demo pan; do
  src=$(clip "$kind" 640 352 "$FRAMES") || exit 1
  LABEL="$kind 640x352"
  [ "$kind" = camera ] && [ -n "${PICTURE:-}" ] && LABEL="picture 640x352"
  for r in $RATES; do
    read -r kk ka < <(krvenc_point "$src" "$r")
    read -r mk ma < <(mpeg1_point "$src" "$r" "$FRAMES")
    read -r vk va < <(vp8_point "$src" "$r" "$FRAMES")
    awk -v l="$LABEL" -v t="$r" -v kk="$kk" -v ka="$ka" -v mk="$mk" -v ma="$ma" -v vk="$vk" -v va="$va" \
      'BEGIN { printf "%-16s %6d | %8.1f %6.2f | %8.1f %6.2f | %8.1f %6.2f | %+6.2f %+6.2f\n", l, t, kk, ka, mk, ma, vk, va, ka - ma, ka - va }'
  done
done
echo
echo "krvenc's chosen quality (mean) and share of blocks of each kind, per point:"
cat "$T/blocks"
echo
echo "== krvenc --bitrate: kbps against the target, and CPU seconds (user + system) against one fixed-quality pass at the quality it settled on =="
printf '  %-16s %6s | %8s %7s | %6s %6s %6s | %s\n' clip target kbps miss "CPU s" "1 pass" ratio "krvenc's note"
cat "$T/rc"
echo
echo "== krvenc speed, default quality, by --speed (fps of CPU time = one core; fps of wall time) =="
printf '%-20s %5s | %8s %8s | %7s | %s\n' clip speed "fps CPU" "fps wall" threads "krvenc summary"
for point in "demo 640 480 30" "pan 640 480 30" "camera 640 480 30" "demo 1920 1080 15" "pan 1920 1080 15"; do
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
