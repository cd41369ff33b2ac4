// The host's copy against the machine's limits: same-size copies against
// memcpy of the same bytes, scaled copies in frames per second (compared
// with FFmpeg's scaler by scripts/bench-ffmpeg.sh).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

#include "BenchWorlds.h"
#include "Median.h"
#include "ScalingCopy.h"

namespace {

using hostsim::BitDepth;

BitDepth DepthArg(const benchmark::State& state) { return static_cast<BitDepth>(state.range(0)); }

// The bytes a 1920 x 1080 frame holds at the depth, moved by memcpy.
void BM_Memcpy1080(benchmark::State& state) {
  const std::size_t bytes = 1920u * 1080u * hostsim::BytesPerPixel(DepthArg(state));
  std::vector<unsigned char> src(bytes, 1), dst(bytes, 0);
  for (auto _ : state) {
    std::memcpy(dst.data(), src.data(), bytes);
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}
BENCHMARK(BM_Memcpy1080)->Arg(8)->Arg(16)->Arg(32);

// Whole world to whole world of the same size: what "Fit to Layer" and the
// pass-through cost.
void BM_SameSizeCopy1080(benchmark::State& state) {
  const BitDepth depth = DepthArg(state);
  auto src = bench::PictureWorld(1920, 1080, depth);
  auto dst = bench::BlankWorld(1920, 1080, depth);
  for (auto _ : state) {
    if (hostsim::ScalingCopy(src->world(), dst->world(), nullptr, nullptr) != PF_Err_NONE)
      state.SkipWithError("copy failed");
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(
      static_cast<std::int64_t>(state.iterations() * 1920u * 1080u * hostsim::BytesPerPixel(depth)));
}
BENCHMARK(BM_SameSizeCopy1080)->Arg(8)->Arg(16)->Arg(32);

// The two above, paired: each iteration times one memcpy of a frame's bytes
// and then one same-size copy of a frame, and the ratio is taken between the
// medians. On a shared virtual machine the memory's speed drifts from one
// minute to the next; copies timed side by side see the same machine.
void BM_SameSizeCopyAgainstMemcpy(benchmark::State& state) {
  const BitDepth depth = DepthArg(state);
  const std::size_t bytes = 1920u * 1080u * hostsim::BytesPerPixel(depth);
  std::vector<unsigned char> from(bytes, 1), to(bytes, 0);
  auto src = bench::PictureWorld(1920, 1080, depth);
  auto dst = bench::BlankWorld(1920, 1080, depth);
  std::vector<double> memcpy_seconds, copy_seconds;
  using Clock = std::chrono::steady_clock;
  for (auto _ : state) {
    const Clock::time_point start = Clock::now();
    std::memcpy(to.data(), from.data(), bytes);
    benchmark::ClobberMemory();
    const Clock::time_point middle = Clock::now();
    if (hostsim::ScalingCopy(src->world(), dst->world(), nullptr, nullptr) != PF_Err_NONE)
      state.SkipWithError("copy failed");
    benchmark::ClobberMemory();
    const Clock::time_point end = Clock::now();
    memcpy_seconds.push_back(std::chrono::duration<double>(middle - start).count());
    copy_seconds.push_back(std::chrono::duration<double>(end - middle).count());
    state.SetIterationTime(std::chrono::duration<double>(end - middle).count());
  }
  const double memcpy_median = bench::Median(memcpy_seconds), copy_median = bench::Median(copy_seconds);
  state.counters["memcpy_gb_per_s"] = static_cast<double>(bytes) / memcpy_median / 1e9;
  state.counters["copy_gb_per_s"] = static_cast<double>(bytes) / copy_median / 1e9;
  state.counters["percent_of_memcpy"] = 100.0 * memcpy_median / copy_median;
}
BENCHMARK(BM_SameSizeCopyAgainstMemcpy)->Arg(8)->Arg(16)->Arg(32)->UseManualTime()->Iterations(300);

// Scaled whole-frame copies, one thread; items per second are frames per
// second. Arguments: depth, source width, source height, destination width,
// destination height. Besides the median, the least CPU time of the
// repetitions ("least"), the figure set against FFmpeg's, which is the least
// of its runs: other load on the machine only ever adds to either.
void BM_ScaledCopy(benchmark::State& state) {
  const BitDepth depth = DepthArg(state);
  auto src = bench::PictureWorld(static_cast<A_long>(state.range(1)), static_cast<A_long>(state.range(2)), depth);
  auto dst = bench::BlankWorld(static_cast<A_long>(state.range(3)), static_cast<A_long>(state.range(4)), depth);
  for (auto _ : state) {
    if (hostsim::ScalingCopy(src->world(), dst->world(), nullptr, nullptr) != PF_Err_NONE)
      state.SkipWithError("copy failed");
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ScaledCopy)
    ->ArgNames({"depth", "sw", "sh", "dw", "dh"})
    ->Args({8, 1280, 720, 1920, 1080})
    ->Args({16, 1280, 720, 1920, 1080})
    ->Args({32, 1280, 720, 1920, 1080})
    ->Args({8, 3840, 2160, 1920, 1080})
    ->Args({16, 3840, 2160, 1920, 1080})
    ->Args({32, 3840, 2160, 1920, 1080})
    ->ComputeStatistics("least", [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); })
    ->Unit(benchmark::kMillisecond);

}  // namespace
