#include "ScalingCopyFast.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <type_traits>
#include <vector>

#include "AxisTaps.h"
#include "PixelWorld.h"

namespace hostsim {
namespace {

// The taps of every output pixel along one axis, slot-major: slot t of output
// o is at [t * count + o], so that one slot of a whole row of outputs is a
// contiguous array. Every output has `stride` slots; those past its real taps
// (listed in `padding`) weigh 0 and point at a pixel inside the source world,
// so loops may run over all slots. Indices are counted from `first`, the lowest real
// tap's index.
struct AxisPlan {
  std::size_t count = 0, stride = 0;
  A_long first = 0;
  std::vector<std::int32_t> index;
  std::vector<double> weight;
  std::vector<std::size_t> padding;
  std::vector<std::size_t> taps;
  std::vector<double> total;
  double uniform_total = 0.0;  // the total of every output when it is one power of two, else 0
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
      any = true;
    }
  }
  plan.stride = std::max<std::size_t>(plan.stride, 1);
  int exponent = 0;
  if (plan.count > 0 && std::frexp(plan.total[0], &exponent) == 0.5 &&
      std::all_of(plan.total.begin(), plan.total.end(), [&](double t) { return t == plan.total[0]; }))
    plan.uniform_total = plan.total[0];
  plan.index.assign(plan.stride * plan.count, 0);
  plan.weight.assign(plan.stride * plan.count, 0.0);
  for (std::size_t t = 0; t < plan.stride; ++t)
    for (std::size_t o = 0; o < plan.count; ++o) {
      if (t < all[o].size()) {
        plan.index[t * plan.count + o] = all[o][t].index - plan.first;
        plan.weight[t * plan.count + o] = all[o][t].weight;
      } else {
        plan.padding.push_back(t * plan.count + o);
      }
    }
  return plan;
}

// Output columns are computed a chunk at a time in arrays on the stack: the
// compiler knows they alias nothing, so it can keep each loop in vector
// registers without checks at run time. Short chunks were faster: 16 columns
// took 10 % less time than 64 (32 and 8 lay between) for the float
// enlargement and the halving, and no more for 8 and 16 bits. Probably
// because the arrays the loops read and write are then 128 bytes apart, not
// 512, so fewer loads fall a multiple of 4 KiB from a recent store, which the
// processor takes for a dependency; the unweighted sums are also made for
// fewer columns.
constexpr std::size_t kChunk = 16;

template <typename Pixel>
const Pixel* SourceRow(const PF_EffectWorld& w, A_long y) {
  return reinterpret_cast<const Pixel*>(static_cast<const unsigned char*>(w.data) +
                                        static_cast<std::ptrdiff_t>(y) * w.rowbytes);
}

template <typename Pixel>
Pixel* DestRow(PF_EffectWorld& w, std::int64_t y) {
  return reinterpret_cast<Pixel*>(static_cast<unsigned char*>(w.data) + static_cast<std::ptrdiff_t>(y) * w.rowbytes);
}

// A source row as the output columns see it: for each x slot, the pixel each
// column reads there, in arrays of one element per slot. Integer pixels are
// copied whole and turned into doubles only in the vector loops that sum
// them: copying needs a load and a store a pixel word, converting every
// channel there would need four of each and a conversion. Integer pixels hold
// finite values, so a padding slot (weight 0) adds +0.0 to every sum, which
// changes none. Float pixels may hold infinities, and 0 * infinity is NaN:
// their padding slots are cleared to 0 after the gathering, which then runs
// without a test a slot.
template <typename Pixel>
struct ColumnPixels;

template <>
struct ColumnPixels<PF_Pixel8> {
  std::vector<std::uint32_t> argb;  // alpha in the low byte, blue in the high
  std::size_t count = 0;
  void Resize(std::size_t slots, std::size_t columns) { count = columns, argb.resize(slots * columns); }
  void Put(std::size_t t, std::size_t c, const PF_Pixel8* row, const std::int32_t* index, std::size_t n) {
    std::uint32_t* to = argb.data() + t * count + c;
    for (std::size_t i = 0; i < n; ++i) {
      const PF_Pixel8& p = row[index[i]];
      to[i] = p.alpha | std::uint32_t{p.red} << 8 | std::uint32_t{p.green} << 16 | std::uint32_t{p.blue} << 24;
    }
  }
  struct View {
    const std::uint32_t* argb;
    double a(std::size_t c) const { return static_cast<std::int32_t>(argb[c] & 0xFF); }
    double r(std::size_t c) const { return static_cast<std::int32_t>(argb[c] >> 8 & 0xFF); }
    double g(std::size_t c) const { return static_cast<std::int32_t>(argb[c] >> 16 & 0xFF); }
    double b(std::size_t c) const { return static_cast<std::int32_t>(argb[c] >> 24); }
  };
  View From(std::size_t t, std::size_t c) const { return {argb.data() + t * count + c}; }
};

template <>
struct ColumnPixels<PF_Pixel16> {
  std::vector<std::uint32_t> ar, gb;  // alpha and green in the low halves
  std::size_t count = 0;
  void Resize(std::size_t slots, std::size_t columns) {
    count = columns, ar.resize(slots * columns), gb.resize(slots * columns);
  }
  void Put(std::size_t t, std::size_t c, const PF_Pixel16* row, const std::int32_t* index, std::size_t n) {
    std::uint32_t* to_ar = ar.data() + t * count + c;
    std::uint32_t* to_gb = gb.data() + t * count + c;
    for (std::size_t i = 0; i < n; ++i) {
      const PF_Pixel16& p = row[index[i]];
      to_ar[i] = p.alpha | std::uint32_t{p.red} << 16;
      to_gb[i] = p.green | std::uint32_t{p.blue} << 16;
    }
  }
  struct View {
    const std::uint32_t *ar, *gb;
    double a(std::size_t c) const { return static_cast<std::int32_t>(ar[c] & 0xFFFF); }
    double r(std::size_t c) const { return static_cast<std::int32_t>(ar[c] >> 16); }
    double g(std::size_t c) const { return static_cast<std::int32_t>(gb[c] & 0xFFFF); }
    double b(std::size_t c) const { return static_cast<std::int32_t>(gb[c] >> 16); }
  };
  View From(std::size_t t, std::size_t c) const { return {ar.data() + t * count + c, gb.data() + t * count + c}; }
};

// Float pixels are split into arrays of doubles per channel as they are
// gathered: the vector loops then load four columns of a channel with one
// instruction, where whole pixels need a transposition and conversions for
// every tap, and each pixel is converted once, where the loops would convert
// it again for every output row that reads it. Stored as floats instead (half
// the bytes, converted in the loops) the enlargement took 12 % longer.
// The arrays are cut into blocks of one chunk of columns: block k holds, for
// each slot in turn, the chunk's alphas, reds, greens and blues, so all that
// a chunk reads of one source row is one block of consecutive memory (1 KiB
// with two slots) rather than eight pieces of eight separate arrays. The
// halving took 6 to 9 % less time so, the enlargement the same. (GCC still
// keeps one address per slot and channel in the summing loop, and spills
// some of them.)
template <>
struct ColumnPixels<PF_PixelFloat> {
  std::vector<double> blocks;
  std::size_t slots = 0;
  void Resize(std::size_t slot_count, std::size_t columns) {
    slots = slot_count;
    blocks.resize((columns + kChunk - 1) / kChunk * slots * 4 * kChunk);
  }
  // c is the first column of a chunk, n at most kChunk.
  void Put(std::size_t t, std::size_t c, const PF_PixelFloat* row, const std::int32_t* index, std::size_t n) {
    double* to = blocks.data() + (c / kChunk * slots + t) * 4 * kChunk;
    for (std::size_t i = 0; i < n; ++i) {
      const PF_PixelFloat& p = row[index[i]];
      to[i] = p.alpha, to[kChunk + i] = p.red, to[2 * kChunk + i] = p.green, to[3 * kChunk + i] = p.blue;
    }
  }
  void Clear(std::size_t t, std::size_t c) {
    double* to = blocks.data() + (c / kChunk * slots + t) * 4 * kChunk + c % kChunk;
    to[0] = 0.0, to[kChunk] = 0.0, to[2 * kChunk] = 0.0, to[3 * kChunk] = 0.0;
  }
  struct View {
    const double* at;
    double a(std::size_t c) const { return at[c]; }
    double r(std::size_t c) const { return at[kChunk + c]; }
    double g(std::size_t c) const { return at[2 * kChunk + c]; }
    double b(std::size_t c) const { return at[3 * kChunk + c]; }
  };
  // c is the first column of a chunk.
  View From(std::size_t t, std::size_t c) const { return {blocks.data() + (c / kChunk * slots + t) * 4 * kChunk}; }
};

// The source rows of the latest output rows, made once each and kept for the
// next output rows, which read mostly the same source rows. They are asked
// for in increasing order, so the oldest kept is the one to replace.
template <typename Pixel>
class SourceRowsAsColumns {
 public:
  SourceRowsAsColumns(const PF_EffectWorld& src, const AxisPlan& xs, std::size_t keep)
      : src_(src), xs_(xs), rows_(keep), which_(keep, -1) {
    for (ColumnPixels<Pixel>& p : rows_) p.Resize(xs.stride, xs.count);
  }

  const ColumnPixels<Pixel>& Row(A_long y) {
    for (std::size_t k = 0; k < rows_.size(); ++k)
      if (which_[k] == y) return rows_[k];
    const std::size_t k = next_;
    next_ = (next_ + 1) % rows_.size();
    which_[k] = y;
    ColumnPixels<Pixel>& p = rows_[k];
    const Pixel* row = SourceRow<Pixel>(src_, y) + xs_.first;
    for (std::size_t from = 0; from < xs_.count; from += kChunk)
      for (std::size_t t = 0; t < xs_.stride; ++t)
        p.Put(t, from, row, xs_.index.data() + t * xs_.count + from, std::min(kChunk, xs_.count - from));
    if constexpr (std::is_same<Pixel, PF_PixelFloat>::value)
      for (std::size_t s : xs_.padding) p.Clear(s / xs_.count, s % xs_.count);
    return p;
  }

 private:
  const PF_EffectWorld& src_;
  const AxisPlan& xs_;
  std::vector<ColumnPixels<Pixel>> rows_;
  std::vector<A_long> which_;
  std::size_t next_ = 0;
};

struct Chunk {
  double a[kChunk], r[kChunk], g[kChunk], b[kChunk];
};

// One tap's share in the reference's sums, with its weight wx * wy:
// alpha-weighted, or with kPlain the unweighted colour.
template <bool kPlain, typename View>
inline void AddTap(const View& p, std::size_t c, double w, double& a, double& r, double& g, double& b) {
  if (kPlain) {
    r += w * p.r(c), g += w * p.g(c), b += w * p.b(c);
  } else {
    const double wa = w * p.a(c);
    a += wa, r += wa * p.r(c), g += wa * p.g(c), b += wa * p.b(c);
  }
}

// The reference's sums for columns [from, from + n) of one output row, tap by
// tap in its order (rows outer, columns inner), each column in its own lane.
// Sums start at +0.0 as the reference's do; the padding rows it leaves out
// are left out here too.
template <bool kPlain, typename Pixel>
void AddTaps(const ColumnPixels<Pixel>* const* rows, const double* wy, std::size_t ny, const AxisPlan& xs,
             std::size_t from, std::size_t n, Chunk& s) {
  for (std::size_t c = 0; c < n; ++c) s.a[c] = 0.0, s.r[c] = 0.0, s.g[c] = 0.0, s.b[c] = 0.0;
  for (std::size_t ty = 0; ty < ny; ++ty) {
    for (std::size_t tx = 0; tx < xs.stride; ++tx) {
      const typename ColumnPixels<Pixel>::View p = rows[ty]->From(tx, from);
      const double* wx = xs.weight.data() + tx * xs.count + from;
      for (std::size_t c = 0; c < n; ++c) AddTap<kPlain>(p, c, wx[c] * wy[ty], s.a[c], s.r[c], s.g[c], s.b[c]);
    }
  }
}

// The same for two real rows of two slots each, the taps of every
// enlargement and of halving: all four taps of a column in one pass, so the
// sums stay in registers.
template <bool kPlain, typename Pixel>
void AddTwoByTwoTaps(const ColumnPixels<Pixel>* const* rows, const double* wy, const AxisPlan& xs, std::size_t from,
                     std::size_t n, Chunk& s) {
  using View = typename ColumnPixels<Pixel>::View;
  const View p00 = rows[0]->From(0, from), p01 = rows[0]->From(1, from);
  const View p10 = rows[1]->From(0, from), p11 = rows[1]->From(1, from);
  const double* wx0 = xs.weight.data() + from;
  const double* wx1 = wx0 + xs.count;
  const double wy0 = wy[0], wy1 = wy[1];
  for (std::size_t c = 0; c < n; ++c) {
    double a = 0.0, r = 0.0, g = 0.0, b = 0.0;
    if (std::is_same<Pixel, PF_PixelFloat>::value) {
      AddTap<kPlain>(p00, c, wx0[c] * wy0, a, r, g, b);
    } else {
      // Integer terms are +0.0 or above, and 0.0 + x is x for those: the
      // sums may start from the first terms.
      const double w = wx0[c] * wy0;
      if (kPlain) {
        r = w * p00.r(c), g = w * p00.g(c), b = w * p00.b(c);
      } else {
        a = w * p00.a(c), r = a * p00.r(c), g = a * p00.g(c), b = a * p00.b(c);
      }
    }
    AddTap<kPlain>(p01, c, wx1[c] * wy0, a, r, g, b);
    AddTap<kPlain>(p10, c, wx0[c] * wy1, a, r, g, b);
    AddTap<kPlain>(p11, c, wx1[c] * wy1, a, r, g, b);
    s.a[c] = a, s.r[c] = r, s.g[c] = g, s.b[c] = b;
  }
}

template <bool kPlain, typename Pixel>
void Sum(const ColumnPixels<Pixel>* const* rows, const double* wy, std::size_t ny, const AxisPlan& xs,
         std::size_t from, std::size_t n, Chunk& s) {
  if (ny == 2 && xs.stride == 2)
    AddTwoByTwoTaps<kPlain>(rows, wy, xs, from, n, s);
  else
    AddTaps<kPlain>(rows, wy, ny, xs, from, n, s);
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
// total. There float alpha is still its sum over the total (it may sum to
// zero or below in HDR work) and integer alpha is 0, which its sum over the
// total is too: integer sums are never below +0.0. `inverse_total`, when not
// 0, is 1 / total for a total that is the same power of two in every column
// (1 when enlarging, 4 when halving), by which multiplying gives the
// quotient's exact bits.
void Resolve(Chunk& s, const Chunk& plain, bool all_weighted, const double* xtotal, double ytotal,
             double inverse_total, std::size_t n, Chunk& out) {
  if (inverse_total != 0.0) {
    for (std::size_t c = 0; c < n; ++c) out.a[c] = s.a[c] * inverse_total;
  } else {
    for (std::size_t c = 0; c < n; ++c) out.a[c] = s.a[c] / (xtotal[c] * ytotal);
  }
  // Columns without alpha take the plain sums and the total in place of the
  // weighted sums and the alpha sum, so that each channel is divided once:
  // selecting between two quotients instead, the compiler divides for both.
  if (!all_weighted) {
    for (std::size_t c = 0; c < n; ++c) {
      const bool weighted = s.a[c] > 0.0;
      s.r[c] = weighted ? s.r[c] : plain.r[c];
      s.g[c] = weighted ? s.g[c] : plain.g[c];
      s.b[c] = weighted ? s.b[c] : plain.b[c];
      s.a[c] = weighted ? s.a[c] : xtotal[c] * ytotal;
    }
  }
  for (std::size_t c = 0; c < n; ++c) {
    const double divisor = s.a[c];
    out.r[c] = s.r[c] / divisor, out.g[c] = s.g[c] / divisor, out.b[c] = s.b[c] / divisor;
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
  std::vector<const ColumnPixels<Pixel>*> rows(ys.stride);
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
    const double inverse_total =
        xs.uniform_total != 0.0 && ys.uniform_total != 0.0 ? 1.0 / (xs.uniform_total * ys.uniform_total) : 0.0;
    Pixel* out = DestRow<Pixel>(dst, out_y + static_cast<std::int64_t>(r)) + out_x;
    for (std::size_t from = 0; from < xs.count; from += kChunk) {
      const std::size_t n = std::min(kChunk, xs.count - from);
      Sum<false>(rows.data(), wy.data(), ny, xs, from, n, sums);
      // The plain sums are wanted only where no alpha falls under a pixel.
      // Counted rather than stopped at the first column without, so that the
      // loop is vector comparisons and sums.
      std::size_t weighted = 0;
      for (std::size_t c = 0; c < n; ++c) weighted += sums.a[c] > 0.0;
      const bool all_weighted = weighted == n;
      if (!all_weighted) Sum<true>(rows.data(), wy.data(), ny, xs, from, n, plain);
      Resolve(sums, plain, all_weighted, xs.total.data() + from, ys.total[r], inverse_total, n, resolved);
      Store(resolved, n, out + from);
    }
  }
}

void CopyAtDepth(const PF_EffectWorld& src, PF_EffectWorld& dst, const AxisPlan& xs, const AxisPlan& ys,
                 std::int64_t out_x, std::int64_t out_y) {
  switch (DepthOf(dst)) {
    case BitDepth::k8: Copy<PF_Pixel8>(src, dst, xs, ys, out_x, out_y); break;
    case BitDepth::k16: Copy<PF_Pixel16>(src, dst, xs, ys, out_x, out_y); break;
    case BitDepth::k32: Copy<PF_PixelFloat>(src, dst, xs, ys, out_x, out_y); break;
  }
}

// The same loops once more for AVX2, four doubles a register where the
// baseline has two. Everything they call is inlined into this one function
// (flatten), so nothing compiled for AVX2 is shared with the baseline code.
#if defined(TOVANE_COPY_HAS_AVX2)
__attribute__((target("avx2"), flatten)) void CopyAtDepthAvx2(const PF_EffectWorld& src, PF_EffectWorld& dst,
                                                                const AxisPlan& xs, const AxisPlan& ys,
                                                                std::int64_t out_x, std::int64_t out_y) {
  CopyAtDepth(src, dst, xs, ys, out_x, out_y);
}
#endif

}  // namespace

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
    CopyAtDepthAvx2(src, dst, xs, ys, g.out_x, g.out_y);
    return true;
  }
#else
  (void)widest;
#endif
  CopyAtDepth(src, dst, xs, ys, g.out_x, g.out_y);
  return true;
}

}  // namespace hostsim
