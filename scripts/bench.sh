#!/usr/bin/env bash
# Builds the benchmarks (Release, build-bench/) and runs every performance
# figure in one go, then prints them (scripts/bench-summary.py):
#   - instructions per frame in the module (callgrind: its own code and the
#     C runtime routines it calls), at three frame sizes, with the host's
#     share beside it for information; once more at 1080p for the module as
#     clang builds it (the macOS bundle's compiler);
#   - same-size copies against memcpy of the same bytes, timed side by side;
#   - scaled copies, one thread, against FFmpeg's bilinear scaler;
#   - tovane-host render on a 60-frame 1080p 8-bit scene, one frame at a
#     time and at the default --jobs (all hardware threads), alternating with
#     FFmpeg making the same 60 1080p PNG files at all threads, with the
#     share of the render's time spent in the copy.
# Usage: scripts/bench.sh [--quick]   (--quick: fewer repetitions)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$root/build-bench
out=$build/bench-run
reps=5
ffmpeg_frames=40
if [ "${1:-}" = "--quick" ]; then reps=1; ffmpeg_frames=20; fi

# Lower priority for everything else on the machine is not ours to set, but
# a higher one for the measurements is, when allowed.
run() { if nice -n -5 true 2>/dev/null; then nice -n -5 "$@"; else "$@"; fi; }

cmake --preset bench >/dev/null
cmake --build --preset bench
cmake --preset bench-clang >/dev/null
cmake --build --preset bench-clang
rm -rf "$out" && mkdir -p "$out"

echo "== Google Benchmark (tovane-bench)"
run "$build/bench/tovane-bench" --benchmark_repetitions="$reps" --benchmark_report_aggregates_only=true \
  --benchmark_out="$out/bench.json" --benchmark_out_format=json

echo "== FFmpeg's bilinear scaler, one thread"
run "$root/scripts/bench-ffmpeg.sh" "$build/ffmpeg-frames" "$ffmpeg_frames" | tee "$out/ffmpeg.txt"

echo "== callgrind: instructions per frame by object"
frames=10
for size in "640 360" "1920 1080" "3840 2160"; do
  set -- $size
  valgrind --tool=callgrind --callgrind-out-file="$out/callgrind.$1x$2.out" \
    --toggle-collect=tovane_bench_run_frames "$build/bench/tovane-bench-frames" "$1" "$2" "$frames" \
    >"$out/frames.$1x$2.txt" 2>"$out/callgrind.$1x$2.log"
  python3 "$root/scripts/callgrind-objects.py" "$out/callgrind.$1x$2.out" >"$out/objects.$1x$2.txt"
done
TOVANE_MODULE="$root/build-bench-clang/TovaneParvolith/TovaneParvolith.so" \
  valgrind --tool=callgrind --callgrind-out-file="$out/callgrind.clang.1920x1080.out" \
    --toggle-collect=tovane_bench_run_frames "$build/bench/tovane-bench-frames" 1920 1080 "$frames" \
    >"$out/frames.clang.1920x1080.txt" 2>"$out/callgrind.clang.1920x1080.log"

echo "== tovane-host render: 60 frames of a 1080p 8-bit scene, and FFmpeg making the same files"
cat >"$out/scene.json" <<'JSON'
{
  "composition": {"width": 1920, "height": 1080, "frame_rate": 30, "time_scale": 30},
  "layers": [
    {"id": 1, "name": "Plate", "width": 1920, "height": 1080, "duration": 10, "source": {"type": "gradient"}},
    {"id": 2, "name": "Insert", "width": 1280, "height": 720, "duration": 10, "source": {"type": "frame_card"}}
  ],
  "effect": {"on_layer": 1, "mode": "Whole", "layer": 2, "time_type": "Percent", "time_percent": 50},
  "render": {"times": [TIMES], "depth": 8}
}
JSON
times=$(seq 0 59 | awk '{ printf "%s{\"value\": %d, \"scale\": 30}", (NR > 1 ? ", " : ""), $1 }')
sed -i "s/TIMES/$times/" "$out/scene.json"
# The render beside FFmpeg making the same 60 1080p PNG files from the
# 1280x720 picture with its bilinear scaler at all threads, as a user who
# reached for FFmpeg instead would. The two alternate, round by round, so
# both see the same machine; the best round of each is the figure (other
# load only ever adds), and the load average is noted before and after.
# FFmpeg scales the picture the scene's insert shows (its frame card at the
# scene's 50 %), rendered alone at 1280x720 through the effect with no layer
# chosen, which passes it through.
cat >"$out/insert.json" <<'JSON'
{
  "composition": {"width": 1280, "height": 720, "frame_rate": 30, "time_scale": 30},
  "layers": [
    {"id": 2, "name": "Insert", "width": 1280, "height": 720, "duration": 10, "source": {"type": "frame_card"}}
  ],
  "effect": {"on_layer": 2, "mode": "Whole", "time_type": "Percent", "time_percent": 50},
  "render": {"times": [{"value": 150, "scale": 30}], "depth": 8}
}
JSON
"$build/tools/tovane-host" render "$out/insert.json" --out "$out/insert" >/dev/null
cp "$out/insert/frame_0000.png" "$out/insert.png"
# Render variants: a label and the options it adds. One frame at a time,
# and the default, one frame per hardware thread.
render_variants=("jobs-1 --jobs 1" "jobs-all")
rounds=3
timed() {  # timed LABEL ROUND COMMAND...: one line "LABEL ROUND wall user system" in render-vs-ffmpeg.txt
  local label=$1 round=$2; shift 2
  /usr/bin/time -f "$label $round %e %U %S" -a -o "$out/render-vs-ffmpeg.txt" "$@" >/dev/null
}
echo "load-before $(cut -d' ' -f1-3 /proc/loadavg) cores $(nproc)" >"$out/render-vs-ffmpeg.txt"
for round in $(seq 1 "$rounds"); do
  for variant in "${render_variants[@]}"; do
    read -r label options <<<"$variant"
    rm -rf "$out/render"
    # shellcheck disable=SC2086
    timed "render-$label" "$round" "$build/tools/tovane-host" render "$out/scene.json" --out "$out/render" $options
  done
  rm -rf "$out/ffmpeg" && mkdir -p "$out/ffmpeg"
  timed ffmpeg "$round" ffmpeg -hide_banner -nostdin -loglevel error -y -threads 0 -loop 1 -i "$out/insert.png" \
    -frames:v 60 -vf "scale=1920:1080:flags=bilinear" -pix_fmt rgba "$out/ffmpeg/frame_%04d.png"
done
echo "load-after $(cut -d' ' -f1-3 /proc/loadavg)" >>"$out/render-vs-ffmpeg.txt"
echo "bytes render $(cat "$out"/render/*.png | wc -c) ffmpeg $(cat "$out"/ffmpeg/*.png | wc -c)" \
  >>"$out/render-vs-ffmpeg.txt"
cat "$out/render-vs-ffmpeg.txt"
# Where the render's time goes: perf's samples when perf works here, else
# callgrind's instructions on a few frames of the same scene.
share_source=none
if perf record -q -o "$out/perf.data" "$build/tools/tovane-host" render "$out/scene.json" --out "$out/render" \
     >/dev/null 2>"$out/perf.log"; then
  perf report -i "$out/perf.data" --stdio --sort symbol 2>/dev/null >"$out/perf.txt" && share_source=perf
fi
if [ "$share_source" = none ]; then
  python3 - "$out/scene.json" "$out/scene-short.json" <<'PY'
import json, sys
s = json.load(open(sys.argv[1])); s["render"]["times"] = s["render"]["times"][:3]
json.dump(s, open(sys.argv[2], "w"))
PY
  valgrind --tool=callgrind --callgrind-out-file="$out/callgrind.render.out" \
    "$build/tools/tovane-host" render "$out/scene-short.json" --out "$out/render-short" >/dev/null 2>&1
  share_source=callgrind
fi

echo
python3 "$root/scripts/bench-summary.py" "$out" "$share_source"
