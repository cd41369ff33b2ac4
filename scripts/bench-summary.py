#!/usr/bin/env python3
"""Prints the figures of one scripts/bench.sh run.

Usage: bench-summary.py RUN_DIR SHARE_SOURCE
RUN_DIR holds bench.json (Google Benchmark), ffmpeg.txt, objects.*.txt,
frames.*.txt, render-vs-ffmpeg.txt and perf.txt or callgrind.render.out.
"""
import importlib.util
import json
import os
import re
import subprocess
import sys

_spec = importlib.util.spec_from_file_location(
    "callgrind_objects", os.path.join(os.path.dirname(os.path.abspath(__file__)), "callgrind-objects.py"))
callgrind_objects = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(callgrind_objects)

run, share_source = sys.argv[1], sys.argv[2]


def aggregates(path, which):
    """Benchmark name (without aggregate suffix) -> its entry for the
    aggregate `which` ("median", "least"), or the plain entry when the run
    had no repetitions."""
    out = {}
    for b in json.load(open(path))["benchmarks"]:
        name = b["name"]
        if b.get("run_type") == "aggregate":
            if b.get("aggregate_name") != which:
                continue
            name = b["run_name"]
        out[name] = b
    return out


def seconds(entry, which="real_time"):
    scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[entry["time_unit"]]
    return entry[which] * scale


b = aggregates(os.path.join(run, "bench.json"), "median")
least = aggregates(os.path.join(run, "bench.json"), "least")
print("Figures as ratios where they compare two things (medians of the repetitions; CPU time for throughput)")
print()

def frames_counted(path):
    """The FRAMES argument of tovane-bench-frames, from the command line callgrind recorded."""
    for line in open(path, encoding="utf-8", errors="replace"):
        if line.startswith("cmd:"):
            return int(line.split()[-1])
    sys.exit("bench-summary: no command line in " + path)


def module_per_frame(path):
    """(frames, own code, runtime routines it calls) of the module, per frame."""
    frames = frames_counted(path)
    own, runtime = callgrind_objects.module_cost(path, "TovaneParvolith.so")
    if own == 0:
        sys.exit("bench-summary: no instructions of TovaneParvolith.so in " + path)
    return frames, own // frames, runtime // frames


print("Module instructions per frame (callgrind on tovane-bench-frames: blank layers, tracing off, collection\n"
      "inside the frame loop only; the module's own code and the C and C++ runtime routines it calls are the\n"
      "figure to keep, the same at every size; the rest, the host's copy of the pixels included, is for information):")
for size in ("640x360", "1920x1080", "3840x2160"):
    path = os.path.join(run, "callgrind.%s.out" % size)
    frames, own, runtime = module_per_frame(path)
    by_object, _ = callgrind_objects.parse(path)
    rest = sum(by_object.values()) // frames - own - runtime
    calls = "?"
    for line in open(os.path.join(run, "frames.%s.txt" % size)):
        if line.startswith("host calls per frame"):
            calls = line.split()[-1]
    print("  %-9s module %6d (own code %d, runtime routines it calls %d); everything else %10d (%s host calls)"
          % (size, own + runtime, own, runtime, rest, calls))
_, own, runtime = module_per_frame(os.path.join(run, "callgrind.clang.1920x1080.out"))
print("  1920x1080 built by clang: module %d (own code %d, runtime routines it calls %d)" % (own + runtime, own, runtime))
print()

print("Same-size 1920x1080 copy against memcpy of the same bytes, timed side by side (median of each):")
for d in (8, 16, 32):
    e = b["BM_SameSizeCopyAgainstMemcpy/%d/iterations:300/manual_time" % d]
    print("  %2d-bit: %6.1f GB/s vs memcpy %6.1f GB/s = %5.1f %%"
          % (d, e["copy_gb_per_s"], e["memcpy_gb_per_s"], e["percent_of_memcpy"]))
print()

ff = {}
for line in open(os.path.join(run, "ffmpeg.txt")):
    parts = line.split()
    if len(parts) == 5 and parts[0] == "ffmpeg":
        ff[(int(parts[1]), parts[2], parts[3])] = float(parts[4])
print("Scaled copy, one thread, frames per CPU second against FFmpeg's bilinear scaler (the least CPU time\n"
      "of the repetitions against the least of FFmpeg's three runs):")
for name, e in least.items():
    m = re.match(r"BM_ScaledCopy/depth:(\d+)/sw:(\d+)/sh:(\d+)/dw:(\d+)/dh:(\d+)", name)
    if not m:
        continue
    d, sw, sh, dw, dh = m.groups()
    ours = 1.0 / seconds(e, "cpu_time")
    theirs = ff.get((int(d), "%sx%s" % (sw, sh), "%sx%s" % (dw, dh)))
    ratio = "%.2fx" % (ours / theirs) if theirs else "n/a"
    print("  %2s-bit %4sx%-4s -> %4sx%-4s: %7.1f fps vs FFmpeg %7.1f fps = %s"
          % (d, sw, sh, dw, dh, ours, theirs or 0.0, ratio))
print()

best = {}
notes = {}
for line in open(os.path.join(run, "render-vs-ffmpeg.txt")):
    parts = line.split()
    if parts and (parts[0].startswith("render-") or parts[0] == "ffmpeg") and len(parts) == 5:
        wall, user, system = (float(x) for x in parts[2:])
        if parts[0] not in best or wall < best[parts[0]][0]:
            best[parts[0]] = (wall, user + system)
    elif parts:
        notes[parts[0]] = parts[1:]
print("tovane-host render, 60 frames of a 1080p 8-bit scene (\"Whole\", 1280x720 insert), PNG files written,")
print("against FFmpeg making 60 1080p PNG files from a 1280x720 image (bilinear, all threads); best round of each,")
print("the two alternating:")
ffmpeg_wall, ffmpeg_cpu = best["ffmpeg"]
print("  FFmpeg:          %5.2f s, %5.1f frames per second (%.1f per CPU second)"
      % (ffmpeg_wall, 60 / ffmpeg_wall, 60 / ffmpeg_cpu))
one_job = best.get("render-jobs-1")
for label in sorted(k for k in best if k.startswith("render-")):
    wall, cpu = best[label]
    against_one = " = %.2fx --jobs 1" % (one_job[0] / wall) if one_job and label != "render-jobs-1" else ""
    print("  %-19s %5.2f s, %5.1f frames per second (%.1f per CPU second) = %.2fx FFmpeg%s"
          % (label + ":", wall, 60 / wall, 60 / cpu, ffmpeg_wall / wall, against_one))
if "bytes" in notes:
    _, ours, _, theirs = notes["bytes"]
    print("  PNG bytes of the 60 frames: render %.1f MB, FFmpeg %.1f MB" % (int(ours) / 1e6, int(theirs) / 1e6))
print("  load average before %s, after %s, on %s cores"
      % (" ".join(notes["load-before"][:3]), " ".join(notes["load-after"]), notes["load-before"][-1]))
# The copy's functions; the AVX2 build of its loops has everything inlined
# into CopyAtDepthAvx2, the baseline build may keep some apart.
copy_pattern = re.compile(r"ScalingCopy|ScaledCopyFast|CopyAtDepth|PlanAxis|AxisTaps|ExactCopy|SeparableCopy|"
                          r"_loops::\(anonymous namespace\)::|memmove|memcpy")
if share_source == "perf":
    share = 0.0
    for line in open(os.path.join(run, "perf.txt")):
        m = re.match(r"\s*([\d.]+)%\s+\[\.\]\s+(.*)", line)
        if m and copy_pattern.search(m.group(2)):
            share += float(m.group(1))
    print("  share of its time in the copy (perf samples in the copy's functions and memcpy): %.1f %%" % share)
elif share_source == "callgrind":
    out = subprocess.run(["callgrind_annotate", "--inclusive=yes", os.path.join(run, "callgrind.render.out")],
                         capture_output=True, text=True).stdout
    total = copy = 0
    for line in out.splitlines():
        m = re.match(r"\s*([\d,]+)\s+\(.*\)\s+(.*)", line)
        if not m:
            continue
        cost = int(m.group(1).replace(",", ""))
        if "PROGRAM TOTALS" in m.group(2):
            total = cost
        elif "hostsim::ScalingCopy(" in m.group(2) and copy == 0:
            copy = cost
    if total:
        print("  share of its instructions in the copy (callgrind, 3 frames): %.1f %%" % (100.0 * copy / total))
