// tovane-bench-frames WIDTH HEIGHT FRAMES: runs FRAMES pre-render/render
// pairs of the benchmark scene with tracing off, for valgrind to count,
// inside tovane_bench_run_frames so that a tool can collect only there
// (callgrind --toggle-collect=tovane_bench_run_frames). Prints the host
// calls of one frame by name.
#include <cstdlib>
#include <iostream>
#include <memory>

#include "BenchScene.h"

extern "C" __attribute__((noinline)) void tovane_bench_run_frames(bench::EffectRig* rig, int frames) {
  rig->RunFrames(frames);
}

int main(int argc, char** argv) {
  if (argc != 4) {
    std::cerr << "usage: tovane-bench-frames WIDTH HEIGHT FRAMES\n";
    return 2;
  }
  bench::RigOptions options;
  options.width = std::atoi(argv[1]);
  options.height = std::atoi(argv[2]);
  const int frames = std::atoi(argv[3]);
  try {
    hostsim::Module module(bench::ModulePath());
    bench::EffectRig rig(module, options);
    int total = 0;
    for (const auto& [call, count] : rig.CountHostCalls()) {
      std::cout << "host call " << call << " " << count << "\n";
      total += count;
    }
    std::cout << "host calls per frame " << total << "\n";
    tovane_bench_run_frames(&rig, frames);
  } catch (const std::exception& failure) {
    std::cerr << "tovane-bench-frames: " << failure.what() << "\n";
    return 1;
  }
  return 0;
}
