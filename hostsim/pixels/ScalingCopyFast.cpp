#include "ScalingCopyFast.h"

#include <algorithm>
#include <cstddef>
#include <vector>

#include "AxisTaps.h"
#include "PixelWorld.h"

namespace hostsim {
namespace {

// The taps of every output pixel along one axis, slot-major: slot t of output
// o is at [t * count + o], so that one slot of a whole row of outputs is a
// contiguous array. Every output has `stride` slots; those past its real taps
// (real == 0) weigh 0 and point at a pixel inside the source world, so loops
// may run over all slots. Indices are counted from `first`, the lowest real
// tap's index.
struct AxisPlan {
  std::size_t count = 0, stride = 0;
  A_long first = 0, last = 0;
  std::vector<std::int32_t> index;
  std::vector<double> weight;
  std::vector<unsigned char> real;
  std::vector<std::size_t> taps;
  std::vector<double> total;
};

AxisPlan PlanAxis(std::int64_t src_lo, std::int64_t src_len, std::int64_t dst_lo, std::int64_t dst_len,
                  std::int64_t out_lo, std::int64_t out_len, A_long world_len) {
  AxisPlan plan;
  plan.count = static_cast<std::size_t>(out_len);
  std::vector<std::vector<Tap>> all(plan.count);
  plan.total.resize(plan.count);
  plan.taps.resize(plan.count);
  bool any = false;
  for (std::size_t o = 0; o < plan.count; ++o) {
    AxisTaps(src_lo, src_len, dst_len, out_lo + static_cast<std::int64_t>(o) - dst_lo, world_len, all[o],
             plan.total[o]);
    plan.taps[o] = all[o].size();
    plan.stride = std::max(plan.stride, all[o].size());
    for (const Tap& t : all[o]) {
      plan.first = any ? std::min(plan.first, t.index) : t.index;
      plan.last = any ? std::max(plan.last, t.index) : t.index;
      any = true;
    }
  }
  plan.stride = std::max<std::size_t>(plan.stride, 1);
  plan.index.assign(plan.stride * plan.count, 0);
  plan.weight.assign(plan.stride * plan.count, 0.0);
  plan.real.assign(plan.stride * plan.count, 0);
  for (std::size_t o = 0; o < plan.count; ++o)
    for (std::size_t t = 0; t < all[o].size(); ++t) {
      plan.index[t * plan.count + o] = all[o][t].index - plan.first;
      plan.weight[t * plan.count + o] = all[o][t].weight;
      plan.real[t * plan.count + o] = 1;
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

// One channel per array, one element per pixel or output column: the layout
// in which the compiler turns the loops below into vector instructions.
struct Planes {
  std::vector<double> a, r, g, b;
  void Resize(std::size_t n) { a.resize(n), r.resize(n), g.resize(n), b.resize(n); }
  void Zero() {
    std::fill(a.begin(), a.end(), 0.0), std::fill(r.begin(), r.end(), 0.0);
    std::fill(g.begin(), g.end(), 0.0), std::fill(b.begin(), b.end(), 0.0);
  }
};

// Integer pixels hold finite values, so a padding slot (weight 0) adds +0.0
// to every sum, which changes none. Float pixels may hold infinities, and
// 0 * infinity is NaN: their padding slots read as 0 instead.
template <typename Pixel>
constexpr bool kMaskPadding = false;
template <>
constexpr bool kMaskPadding<PF_PixelFloat> = true;

// A source row as the output columns see it: for each x slot, the pixel each
// column reads there, as doubles. Made once per source row and kept for the
// next output rows, which read mostly the same source rows; they are asked
// for in increasing order, so the oldest kept is the one to replace.
template <typename Pixel>
class SourceRowsAsColumns {
 public:
  SourceRowsAsColumns(const PF_EffectWorld& src, const AxisPlan& xs, std::size_t keep)
      : src_(src), xs_(xs), rows_(keep), which_(keep, -1) {
    for (Planes& p : rows_) p.Resize(xs.stride * xs.count);
  }

  const Planes& Row(A_long y) {
    for (std::size_t k = 0; k < rows_.size(); ++k)
      if (which_[k] == y) return rows_[k];
    const std::size_t k = next_;
    next_ = (next_ + 1) % rows_.size();
    which_[k] = y;
    Planes& p = rows_[k];
    const Pixel* row = SourceRow<Pixel>(src_, y) + xs_.first;
    const std::size_t n = xs_.stride * xs_.count;
    for (std::size_t s = 0; s < n; ++s) {
      const Pixel& px = row[xs_.index[s]];
      const bool read = !kMaskPadding<Pixel> || xs_.real[s];
      p.a[s] = read ? px.alpha : 0.0, p.r[s] = read ? px.red : 0.0;
      p.g[s] = read ? px.green : 0.0, p.b[s] = read ? px.blue : 0.0;
    }
    return p;
  }

 private:
  const PF_EffectWorld& src_;
  const AxisPlan& xs_;
  std::vector<Planes> rows_;
  std::vector<A_long> which_;
  std::size_t next_ = 0;
};

// Output columns are computed a chunk at a time in arrays on the stack: the
// compiler knows they alias nothing, so it can keep each loop in vector
// registers without checks at run time.
constexpr std::size_t kChunk = 128;

struct Chunk {
  double a[kChunk], r[kChunk], g[kChunk], b[kChunk];
};

// The reference's sums for columns [from, from + n) of one output row, tap by
// tap in its order (rows outer, columns inner), each column in its own lane:
// alpha-weighted, or with kPlain the unweighted colour. Sums start at +0.0 as
// the reference's do; the padding rows it leaves out are left out here too.
template <bool kPlain>
void AddTaps(const Planes* const* rows, const double* wy, std::size_t ny, const AxisPlan& xs, std::size_t from,
             std::size_t n, Chunk& s) {
  for (std::size_t c = 0; c < n; ++c) s.a[c] = 0.0, s.r[c] = 0.0, s.g[c] = 0.0, s.b[c] = 0.0;
  for (std::size_t ty = 0; ty < ny; ++ty) {
    for (std::size_t tx = 0; tx < xs.stride; ++tx) {
      const std::size_t at = tx * xs.count + from;
      const double* pa = rows[ty]->a.data() + at;
      const double* pr = rows[ty]->r.data() + at;
      const double* pg = rows[ty]->g.data() + at;
      const double* pb = rows[ty]->b.data() + at;
      const double* wx = xs.weight.data() + at;
      const double row_weight = wy[ty];
      for (std::size_t c = 0; c < n; ++c) {
        const double w = wx[c] * row_weight;
        if (kPlain) {
          s.r[c] += w * pr[c], s.g[c] += w * pg[c], s.b[c] += w * pb[c];
        } else {
          const double wa = w * pa[c];
          s.a[c] += wa, s.r[c] += wa * pr[c], s.g[c] += wa * pg[c], s.b[c] += wa * pb[c];
        }
      }
    }
  }
}

// The reference's rounding to an integer channel: 0 for anything not above
// 0 (NaN included), kMax from kMax up, else to nearest with halves away from
// zero. For 0.5 <= v < kMax, v + 0.5 in double has the integer part of the
// exact sum (it is exact unless it reaches a power of two, an integer then),
// so truncating it rounds as lround does; below 0.5, NaN included, v is
// taken as 0 and 0.5 truncates to 0. Selections only, no branch.
template <int kMax>
inline int Channel(double v) {
  return static_cast<int>(std::min(v >= 0.5 ? v : 0.0, static_cast<double>(kMax)) + 0.5);
}

// The reference's two branches per column: alpha over the total and colour
// over alpha where the alpha sum is above 0, else the plain colour over the
// total, with alpha 0 for integer pixels and still its sum over the total
// for float ones (it may sum to zero or below in HDR work). Every division
// is made in both branches and one result kept, so that the loop has no
// branch to keep it from vector instructions.
template <typename Pixel>
void Resolve(const Chunk& s, const Chunk& plain, const double* xtotal, double ytotal, std::size_t n, Chunk& out) {
  for (std::size_t c = 0; c < n; ++c) {
    const double t = xtotal[c] * ytotal;
    const double sa = s.a[c], sr = s.r[c], sg = s.g[c], sb = s.b[c];
    const double pr = plain.r[c], pg = plain.g[c], pb = plain.b[c];
    const bool weighted = sa > 0.0;
    const double divisor = weighted ? sa : t;
    const double alpha = sa / t;
    out.a[c] = kMaskPadding<Pixel> ? alpha : weighted ? alpha : 0.0;
    out.r[c] = (weighted ? sr : pr) / divisor;
    out.g[c] = (weighted ? sg : pg) / divisor;
    out.b[c] = (weighted ? sb : pb) / divisor;
  }
}

template <typename Pixel>
void Store(const Chunk& v, std::size_t n, Pixel* out) {
  using C = decltype(out->alpha);
  constexpr int kMax = sizeof(C) == 1 ? PF_MAX_CHAN8 : PF_MAX_CHAN16;
  for (std::size_t c = 0; c < n; ++c) {
    out[c].alpha = static_cast<C>(Channel<kMax>(v.a[c]));
    out[c].red = static_cast<C>(Channel<kMax>(v.r[c]));
    out[c].green = static_cast<C>(Channel<kMax>(v.g[c]));
    out[c].blue = static_cast<C>(Channel<kMax>(v.b[c]));
  }
}

template <>
void Store(const Chunk& v, std::size_t n, PF_PixelFloat* out) {
  for (std::size_t c = 0; c < n; ++c) {
    out[c].alpha = static_cast<float>(v.a[c]);
    out[c].red = static_cast<float>(v.r[c]);
    out[c].green = static_cast<float>(v.g[c]);
    out[c].blue = static_cast<float>(v.b[c]);
  }
}

template <typename Pixel>
void Copy(const PF_EffectWorld& src, PF_EffectWorld& dst, const AxisPlan& xs, const AxisPlan& ys, std::int64_t out_x,
          std::int64_t out_y) {
  SourceRowsAsColumns<Pixel> source(src, xs, ys.stride + 1);
  std::vector<const Planes*> rows(ys.stride);
  std::vector<double> wy(ys.stride);
  Chunk sums, plain, resolved;
  for (std::size_t r = 0; r < ys.count; ++r) {
    // The real taps only; the cache holds one row more than a row's taps, so
    // every pointer stays valid for the whole output row.
    const std::size_t ny = ys.taps[r];
    for (std::size_t ty = 0; ty < ny; ++ty) {
      rows[ty] = &source.Row(ys.first + ys.index[ty * ys.count + r]);
      wy[ty] = ys.weight[ty * ys.count + r];
    }
    Pixel* out = DestRow<Pixel>(dst, out_y + static_cast<std::int64_t>(r)) + out_x;
    for (std::size_t from = 0; from < xs.count; from += kChunk) {
      const std::size_t n = std::min(kChunk, xs.count - from);
      AddTaps<false>(rows.data(), wy.data(), ny, xs, from, n, sums);
      // The plain sums are wanted only where no alpha falls under a pixel.
      bool all_weighted = true;
      for (std::size_t c = 0; c < n; ++c) all_weighted = all_weighted && sums.a[c] > 0.0;
      if (!all_weighted) AddTaps<true>(rows.data(), wy.data(), ny, xs, from, n, plain);
      Resolve<Pixel>(sums, plain, xs.total.data() + from, ys.total[r], n, resolved);
      Store(resolved, n, out + from);
    }
  }
}

}  // namespace

bool ScaledCopyFast(const PF_EffectWorld& src, PF_EffectWorld& dst, const ScaledCopyGeometry& g) {
  // Padding slots need some pixel to point at.
  if (src.width <= 0 || src.height <= 0 || src.data == nullptr) return false;
  if (g.out_w <= 0 || g.out_h <= 0) return true;
  const AxisPlan xs = PlanAxis(g.src_x, g.src_w, g.dst_x, g.dst_w, g.out_x, g.out_w, src.width);
  const AxisPlan ys = PlanAxis(g.src_y, g.src_h, g.dst_y, g.dst_h, g.out_y, g.out_h, src.height);
  switch (DepthOf(dst)) {
    case BitDepth::k8: Copy<PF_Pixel8>(src, dst, xs, ys, g.out_x, g.out_y); break;
    case BitDepth::k16: Copy<PF_Pixel16>(src, dst, xs, ys, g.out_x, g.out_y); break;
    case BitDepth::k32: Copy<PF_PixelFloat>(src, dst, xs, ys, g.out_x, g.out_y); break;
  }
  return true;
}

}  // namespace hostsim
