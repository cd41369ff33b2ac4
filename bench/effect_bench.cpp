// What the effect costs per frame beyond the pixels the host moves for it:
// both passes through the substitute host with tracing off, without the
// host's pixel work. The effect has no per-pixel work, so the figure must not
// grow with the frame.
//
// BM_EffectOverhead skips the pixel work altogether (Host::SetSkipPixels):
// every host call the effect makes is still made and checked. Each of its
// iterations also times one 1920x1080 8-bit same-size copy just before the
// batch of frames, and the ratio is taken between the two medians: on a
// shared virtual machine the speed of the processor drifts by half from one
// minute to the next, and a copy timed in another benchmark would be timed
// in another minute.
//
// The copy also empties the caches the next calls would have found warm;
// that cost is the copy's, and BM_EffectOverheadAmidPixels shows it: there
// the host moves the pixels and the time inside the copy and in making the
// lent worlds is taken out of each frame afterwards.
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <stdexcept>
#include <vector>

#include "BenchScene.h"
#include "BenchWorlds.h"
#include "Median.h"
#include "pixels/ScalingCopy.h"

namespace {

const hostsim::Module* SharedModule() {
  static std::unique_ptr<hostsim::Module> module = [] {
    const std::string path = bench::ModulePath();
    if (path.empty()) throw std::runtime_error("no effect module: set TOVANE_MODULE");
    return std::make_unique<hostsim::Module>(path);
  }();
  return module.get();
}

constexpr int kFramesPerBatch = 100;

// The copy the overhead is measured against, timed once.
class ReferenceCopy {
 public:
  ReferenceCopy()
      : src_(bench::PictureWorld(1920, 1080, hostsim::BitDepth::k8)),
        dst_(bench::BlankWorld(1920, 1080, hostsim::BitDepth::k8)) {}
  double Seconds() {
    const auto start = std::chrono::steady_clock::now();
    if (hostsim::ScalingCopy(src_->world(), dst_->world(), nullptr, nullptr) != PF_Err_NONE)
      throw std::runtime_error("reference copy failed");
    benchmark::ClobberMemory();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }

 private:
  std::unique_ptr<hostsim::PixelWorld> src_, dst_;
};

// Arguments: frame width, height, chosen layer width, height, mode.
void RunOverhead(benchmark::State& state, bool skip_pixels) {
  bench::RigOptions options;
  options.skip_pixels = skip_pixels;
  options.width = static_cast<A_long>(state.range(0));
  options.height = static_cast<A_long>(state.range(1));
  options.layer_width = static_cast<A_long>(state.range(2));
  options.layer_height = static_cast<A_long>(state.range(3));
  options.mode = static_cast<A_long>(state.range(4));
  bench::EffectRig rig(*SharedModule(), options);

  int host_calls = 0, acquisitions = 0, releases = 0;
  for (const auto& [call, count] : rig.CountHostCalls()) {
    host_calls += count;
    if (call == "AcquireSuite") acquisitions += count;
    if (call == "ReleaseSuite") releases += count;
  }
  // Warm the allocator and the caches before timing.
  for (int i = 0; i < 3; ++i) rig.RunFrame();

  double copy = 0, lend = 0, total = 0;
  std::vector<double> overheads, reference_copies;
  overheads.reserve(static_cast<std::size_t>(state.max_iterations));
  std::unique_ptr<ReferenceCopy> reference;
  if (skip_pixels) reference = std::make_unique<ReferenceCopy>();
  for (auto _ : state) {
    if (reference) {
      state.PauseTiming();
      reference_copies.push_back(reference->Seconds());
      // The copy emptied the caches the frames use; the batch is timed warm.
      for (int i = 0; i < 2; ++i) rig.RunFrame();
      state.ResumeTiming();
    }
    // Without pixels a frame takes about a microsecond, near what reading
    // the clock costs on a virtual machine: one iteration is a batch of
    // frames timed together, reported per frame.
    const bench::FrameSplit split = skip_pixels ? rig.RunFrames(kFramesPerBatch) : rig.RunFrame();
    state.SetIterationTime(split.overhead());
    overheads.push_back(split.overhead());
    copy += split.copy;
    lend += split.lend;
    total += split.total;
  }
  const double n = static_cast<double>(state.iterations());
  // Other processes on a shared machine preempt a few frames for whole
  // time slices; the median frame shows what the frame itself costs.
  const double median = bench::Median(overheads);
  state.counters["median_us"] = median * 1e6;
  if (!reference_copies.empty()) {
    const double copy_median = bench::Median(reference_copies);
    state.counters["reference_copy_us"] = copy_median * 1e6;
    state.counters["percent_of_copy"] = 100.0 * median / copy_median;
    // Each batch against the copy timed just before it, then the median of
    // those ratios: a spell that slows both alike cancels out pair by pair.
    std::vector<double> pair_ratios;
    for (std::size_t i = 0; i < overheads.size() && i < reference_copies.size(); ++i) {
      pair_ratios.push_back(overheads[i] / reference_copies[i]);
    }
    state.counters["percent_of_copy_by_pair"] = 100.0 * bench::Median(pair_ratios);
  }
  state.counters["host_calls"] = host_calls;
  state.counters["acquisitions"] = acquisitions;
  state.counters["releases"] = releases;
  state.counters["copy_us"] = copy / n * 1e6;
  state.counters["lend_us"] = lend / n * 1e6;
  state.counters["frame_us"] = total / n * 1e6;
}

void BM_EffectOverhead(benchmark::State& state) { RunOverhead(state, true); }
void BM_EffectOverheadAmidPixels(benchmark::State& state) { RunOverhead(state, false); }

void FrameShapes(benchmark::internal::Benchmark* bench) {
  bench->ArgNames({"w", "h", "lw", "lh", "mode"})
      ->Args({640, 360, 640, 360, 4})
      ->Args({1920, 1080, 1920, 1080, 4})
      ->Args({3840, 2160, 3840, 2160, 4})
      ->Args({1920, 1080, 1280, 720, 2})
      ->UseManualTime()
      ->Unit(benchmark::kMicrosecond);
}
BENCHMARK(BM_EffectOverhead)->Apply(FrameShapes)->Iterations(500);
BENCHMARK(BM_EffectOverheadAmidPixels)->Apply(FrameShapes)->Iterations(300);

}  // namespace
