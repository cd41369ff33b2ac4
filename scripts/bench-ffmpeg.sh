#!/usr/bin/env bash
# FFmpeg's bilinear scaler on the sizes and depths of the host's scaled-copy
# benchmarks, one thread. Each case is timed twice, reading the same raw
# frame over and over, with and without the scale filter; the difference in
# CPU time (user + system, so that other load on the machine does not count;
# the least of three runs each) is the scaler's. Prints one line per case:
#   ffmpeg <depth> <src w>x<src h> <dst w>x<dst h> <frames per second>
# Usage: scripts/bench-ffmpeg.sh [work dir] [frames]
set -euo pipefail

work=${1:-$(mktemp -d)}
frames=${2:-40}
mkdir -p "$work"

cpu_seconds() {
  # -benchmark prints "bench: utime=1.23s stime=0.45s rtime=..." at the end.
  # The least of three runs: other load on the machine only ever adds.
  for _ in 1 2 3; do
    ffmpeg -hide_banner -nostdin -benchmark "$@" -f null - 2>&1 |
      tr '\r' '\n' | sed -n 's/^bench: utime=\([0-9.]*\)s stime=\([0-9.]*\)s.*/\1 \2/p' |
      awk '{ printf "%.6f\n", $1 + $2 }'
  done | sort -n | head -1
}

for depth in 8 16 32; do
  case $depth in
    8) fmt=rgba ;;
    16) fmt=rgba64le ;;
    32) fmt=gbrapf32le ;;
  esac
  for sizes in "1280x720 1920x1080" "3840x2160 1920x1080"; do
    read -r src dst <<<"$sizes"
    raw="$work/frame-$fmt-$src.raw"
    if [ ! -s "$raw" ]; then
      ffmpeg -hide_banner -nostdin -loglevel error -y -f lavfi -i "testsrc2=s=$src:r=30" -frames:v 1 \
        -pix_fmt "$fmt" -f rawvideo "$raw"
    fi
    # 4K sources read four times the bytes a frame: a quarter of the frames
    # keeps each run as long as the others.
    n=$frames
    [ "$src" = 3840x2160 ] && n=$(((frames + 3) / 4))
    input=(-f rawvideo -pix_fmt "$fmt" -s "$src" -stream_loop $((n - 1)) -i "$raw"
      -threads 1 -filter_threads 1)
    with=$(cpu_seconds "${input[@]}" -vf "scale=${dst/x/:}:flags=bilinear")
    without=$(cpu_seconds "${input[@]}")
    awk -v d="$depth" -v s="$src" -v t="$dst" -v n="$n" -v a="$with" -v b="$without" \
      'BEGIN { x = a - b; if (x <= 0) x = 1e-9; printf "ffmpeg %s %s %s %.2f\n", d, s, t, n / x }'
  done
done
