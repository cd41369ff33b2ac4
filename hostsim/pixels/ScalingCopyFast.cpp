#include "ScalingCopyFast.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <vector>

#include "AxisTaps.h"
#include "PixelWorld.h"

namespace hostsim {
namespace {

// The taps of every output pixel along one axis, slot-major: slot t of output
// o is at [t * lanes + o], so that one slot of four neighbouring outputs is
// four consecutive elements. Every output has `stride` slots; those past its
// real taps weigh 0 and point at a pixel inside the source world, so loops
// may run over all slots. Outputs are padded up to `lanes`, a whole number of
// groups of four, with copies of the last one, whose results are not stored.
// Indices are counted from `first`, the lowest real tap's index.
struct AxisPlan {
  std::size_t count = 0, lanes = 0, stride = 0;
  A_long first = 0;
  std::vector<std::int32_t> index;
  std::vector<double> weight;
  std::vector<std::size_t> taps;
  std::vector<double> total;
  std::vector<unsigned char> padded_groups;  // per four outputs: whether any has fewer taps than `stride`
  double uniform_total = 0.0;  // the total of every output when it is one power of two, else 0
};

AxisPlan PlanAxis(std::int64_t src_lo, std::int64_t src_len, std::int64_t dst_lo, std::int64_t dst_len,
                  std::int64_t out_lo, std::int64_t out_len, A_long world_len) {
  AxisPlan plan;
  plan.count = static_cast<std::size_t>(out_len);
  plan.lanes = (plan.count + 3) / 4 * 4;
  std::vector<std::vector<Tap>> all(plan.count);
  plan.total.resize(plan.lanes);
  plan.taps.resize(plan.count);
  bool any = false;
  for (std::size_t o = 0; o < plan.count; ++o) {
    AxisTaps(src_lo, src_len, dst_len, out_lo + static_cast<std::int64_t>(o) - dst_lo, world_len, all[o],
             plan.total[o]);
    plan.taps[o] = all[o].size();
    plan.stride = std::max(plan.stride, all[o].size());
    for (const Tap& t : all[o]) {
      plan.first = any ? std::min(plan.first, t.index) : t.index;
      any = true;
    }
  }
  plan.stride = std::max<std::size_t>(plan.stride, 1);
  int exponent = 0;
  if (plan.count > 0 && std::frexp(plan.total[0], &exponent) == 0.5 &&
      std::all_of(plan.total.begin(), plan.total.begin() + plan.count,
                  [&](double t) { return t == plan.total[0]; }))
    plan.uniform_total = plan.total[0];
  plan.index.assign(plan.stride * plan.lanes, 0);
  plan.weight.assign(plan.stride * plan.lanes, 0.0);
  plan.padded_groups.assign(plan.lanes / 4, 0);
  for (std::size_t lane = 0; lane < plan.lanes; ++lane) {
    const std::size_t o = std::min(lane, plan.count - 1);
    plan.total[lane] = plan.total[o];
    if (all[o].size() < plan.stride) plan.padded_groups[lane / 4] = 1;
    for (std::size_t t = 0; t < all[o].size(); ++t) {
      plan.index[t * plan.lanes + lane] = all[o][t].index - plan.first;
      plan.weight[t * plan.lanes + lane] = all[o][t].weight;
    }
  }
  return plan;
}

template <typename Pixel>
const Pixel* SourceRow(const PF_EffectWorld& w, A_long y) {
  return reinterpret_cast<const Pixel*>(static_cast<const unsigned char*>(w.data) +
                                        static_cast<std::ptrdiff_t>(y) * w.rowbytes);
}

template <typename Pixel>
Pixel* DestRow(PF_EffectWorld& w, std::int64_t y) {
  return reinterpret_cast<Pixel*>(static_cast<unsigned char*>(w.data) + static_cast<std::ptrdiff_t>(y) * w.rowbytes);
}

}  // namespace

// The loops, once per instruction set. The vector types they use are
// GCC's and Clang's vector extensions, which compile to the target's own
// registers where it has them and to pairs of narrower ones where not.
namespace baseline_loops {
namespace {
#define TOVANE_COPY_TARGET
#include "ScalingCopyFastLoops.inc"
#undef TOVANE_COPY_TARGET
}  // namespace
}  // namespace baseline_loops
#if defined(TOVANE_COPY_HAS_AVX2)
namespace avx2_loops {
namespace {
#define TOVANE_COPY_TARGET __attribute__((target("avx2")))
#include "ScalingCopyFastLoops.inc"
#undef TOVANE_COPY_TARGET
}  // namespace
}  // namespace avx2_loops
#endif

bool ScaledCopyFastRuns(InstructionSet set) {
  if (set == InstructionSet::kBaseline) return true;
#if defined(TOVANE_COPY_HAS_AVX2)
  static const bool has_avx2 = __builtin_cpu_supports("avx2");
  return has_avx2;
#else
  return false;
#endif
}

bool ScaledCopyFast(const PF_EffectWorld& src, PF_EffectWorld& dst, const ScaledCopyGeometry& g,
                    InstructionSet widest) {
  // Padding slots need some pixel to point at.
  if (src.width <= 0 || src.height <= 0 || src.data == nullptr) return false;
  if (g.out_w <= 0 || g.out_h <= 0) return true;
  const AxisPlan xs = PlanAxis(g.src_x, g.src_w, g.dst_x, g.dst_w, g.out_x, g.out_w, src.width);
  const AxisPlan ys = PlanAxis(g.src_y, g.src_h, g.dst_y, g.dst_h, g.out_y, g.out_h, src.height);
#if defined(TOVANE_COPY_HAS_AVX2)
  if (widest == InstructionSet::kAvx2 && ScaledCopyFastRuns(InstructionSet::kAvx2)) {
    avx2_loops::CopyAtDepth(src, dst, xs, ys, g.out_x, g.out_y);
    return true;
  }
#else
  (void)widest;
#endif
  baseline_loops::CopyAtDepth(src, dst, xs, ys, g.out_x, g.out_y);
  return true;
}

}  // namespace hostsim
