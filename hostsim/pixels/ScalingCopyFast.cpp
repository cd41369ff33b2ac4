#include "ScalingCopyFast.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

#include "AxisTaps.h"
#include "PixelWorld.h"
#include "RoundToChannel.h"

#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && !defined(_WIN32)
#include <immintrin.h>
#endif

namespace hostsim {
namespace {

// Kernels are inlined into one function per instruction set, so that each
// is compiled for the registers it runs on.
#define TOVANE_KERNEL inline __attribute__((always_inline))

// The source pixels behind each output pixel along one axis, for the output
// pixels [first, first + count) of the destination rectangle. Every output
// has `stride` slots; slots beyond its real taps carry weight 0 and a valid
// index, so integer pixels can run fixed-length loops (adding 0 * finite
// changes no sum). Float pixels may hold infinities: their loops either
// stop at `taps`, the real count, or mask the pixel read from a padding slot
// (RealTapsOnly below).
struct AxisPlan {
  std::size_t stride = 0;
  std::vector<A_long> index;
  std::vector<double> weight;
  std::vector<std::size_t> taps;
  std::vector<double> total;
};

AxisPlan PlanAxis(std::int64_t src_lo, std::int64_t src_len, std::int64_t dst_lo, std::int64_t dst_len,
                  std::int64_t out_lo, std::int64_t out_len, A_long world_len) {
  AxisPlan plan;
  const auto n = static_cast<std::size_t>(out_len);
  std::vector<std::vector<Tap>> all(n);
  plan.total.resize(n);
  plan.taps.resize(n);
  for (std::size_t o = 0; o < n; ++o) {
    AxisTaps(src_lo, src_len, dst_len, out_lo + static_cast<std::int64_t>(o) - dst_lo, world_len, all[o],
             plan.total[o]);
    plan.taps[o] = all[o].size();
    plan.stride = std::max(plan.stride, all[o].size());
  }
  plan.stride = std::max<std::size_t>(plan.stride, 1);
  plan.index.assign(n * plan.stride, 0);
  plan.weight.assign(n * plan.stride, 0.0);
  for (std::size_t o = 0; o < n; ++o) {
    for (std::size_t t = 0; t < all[o].size(); ++t) {
      plan.index[o * plan.stride + t] = all[o][t].index;
      plan.weight[o * plan.stride + t] = all[o][t].weight;
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

// The reference's rounding to an integer channel: 0 for anything not above 0
// (NaN included), max from max up, else to nearest with halves away from
// zero.
template <int kMax>
TOVANE_KERNEL int Channel(double v) {
  if (!(v > 0.0)) return 0;
  if (v >= kMax) return kMax;
  return RoundPositive(v);
}

template <typename Pixel>
struct IntegerTraits;
template <>
struct IntegerTraits<PF_Pixel8> {
  static constexpr int kMax = PF_MAX_CHAN8;
  using Channel = A_u_char;
};
template <>
struct IntegerTraits<PF_Pixel16> {
  static constexpr int kMax = PF_MAX_CHAN16;
  using Channel = A_u_short;
};

namespace portable {

// Alpha, red, green, blue as doubles. Lane arithmetic is plain IEEE double
// arithmetic, the same as the reference's scalar statements; alpha travels as
// 1.0 in the colour so that "alpha += w * a" and "red += (w * a) * r" become
// one multiply and add of lanes (w * a * 1.0 is exactly w * a). Two lane
// types hold them: two SSE2 pairs, which every x86-64 has, and one AVX2
// quad, used where the processor has it. Both give identical bits.
typedef double Pair __attribute__((vector_size(2 * sizeof(double))));
struct Lanes {
  Pair ar, gb;
  TOVANE_KERNEL double alpha() const { return ar[0]; }
  TOVANE_KERNEL void Store(double* out) const { out[0] = ar[0], out[1] = ar[1], out[2] = gb[0], out[3] = gb[1]; }
  static TOVANE_KERNEL Lanes Zero() { return {Pair{0.0, 0.0}, Pair{0.0, 0.0}}; }
  static TOVANE_KERNEL Lanes Of(double a, double r, double g, double b) { return {Pair{a, r}, Pair{g, b}}; }
  TOVANE_KERNEL void AddScaled(double w, const Lanes& v) {
    ar += w * v.ar;
    gb += w * v.gb;
  }
  TOVANE_KERNEL Lanes DividedBy(const Lanes& d) const { return {ar / d.ar, gb / d.gb}; }
  TOVANE_KERNEL Lanes WithAlpha(double a) const { return {Pair{a, ar[1]}, gb}; }
  template <int kMax, typename Pixel>
  TOVANE_KERNEL void StoreRounded(Pixel& out) const;
};

template <typename Pixel>
TOVANE_KERNEL Lanes Load(const Pixel& p) {
  return Lanes::Of(static_cast<double>(p.alpha), static_cast<double>(p.red), static_cast<double>(p.green),
                   static_cast<double>(p.blue));
}

template <int kMax, typename Pixel>
TOVANE_KERNEL void Lanes::StoreRounded(Pixel& out) const {
  using C = decltype(out.alpha);
  out.alpha = static_cast<C>(Channel<kMax>(ar[0]));
  out.red = static_cast<C>(Channel<kMax>(ar[1]));
  out.green = static_cast<C>(Channel<kMax>(gb[0]));
  out.blue = static_cast<C>(Channel<kMax>(gb[1]));
}

using L = Lanes;
#include "ScalingCopyKernels.inc"

}  // namespace portable

// GCC compiles one region for AVX2 by pragma; other compilers keep to the
// portable loops, and so does Windows, where GCC cannot align the stack for
// spilled AVX registers.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && !defined(_WIN32)
#define TOVANE_HAVE_AVX2_KERNELS 1
#pragma GCC push_options
#pragma GCC target("avx2")
namespace wide {

struct WideLanes {
  __m256d v;
  TOVANE_KERNEL double alpha() const { return _mm256_cvtsd_f64(v); }
  TOVANE_KERNEL void Store(double* out) const { _mm256_storeu_pd(out, v); }
  static TOVANE_KERNEL WideLanes Zero() { return {_mm256_setzero_pd()}; }
  static TOVANE_KERNEL WideLanes Of(double a, double r, double g, double b) { return {_mm256_setr_pd(a, r, g, b)}; }
  TOVANE_KERNEL WideLanes WithAlpha(double a) const { return {_mm256_blend_pd(v, _mm256_set1_pd(a), 1)}; }
  TOVANE_KERNEL void AddScaled(double w, const WideLanes& x) {
    v = _mm256_add_pd(v, _mm256_mul_pd(_mm256_set1_pd(w), x.v));
  }
  TOVANE_KERNEL WideLanes DividedBy(const WideLanes& d) const { return {_mm256_div_pd(v, d.v)}; }
  // The four channels rounded as Channel<kMax> rounds each, packed to
  // 8 or 16 bits and stored in pixel order (alpha, red, green, blue).
  template <int kMax, typename Pixel>
  TOVANE_KERNEL void StoreRounded(Pixel& out) const {
    // max(NaN, 0) is 0, like "not above 0".
    const __m256d clamped = _mm256_min_pd(_mm256_max_pd(v, _mm256_setzero_pd()), _mm256_set1_pd(kMax));
    const __m128i t = _mm256_cvttpd_epi32(clamped);
    const __m256d frac = _mm256_sub_pd(clamped, _mm256_cvtepi32_pd(t));
    const __m128i up =
        _mm256_cvtpd_epi32(_mm256_and_pd(_mm256_cmp_pd(frac, _mm256_set1_pd(0.5), _CMP_GE_OQ), _mm256_set1_pd(1.0)));
    const __m128i words = _mm_packus_epi32(_mm_add_epi32(t, up), _mm_setzero_si128());
    if constexpr (sizeof(Pixel) == 4) {
      const int bytes = _mm_cvtsi128_si32(_mm_packus_epi16(words, _mm_setzero_si128()));
      __builtin_memcpy(&out, &bytes, 4);
    } else {
      _mm_storel_epi64(reinterpret_cast<__m128i*>(&out), words);
    }
  }
};

template <typename Pixel>
TOVANE_KERNEL WideLanes Load(const Pixel& p);
template <>
TOVANE_KERNEL WideLanes Load(const PF_Pixel8& p) {
  int bytes;
  __builtin_memcpy(&bytes, &p, 4);
  return {_mm256_cvtepi32_pd(_mm_cvtepu8_epi32(_mm_cvtsi32_si128(bytes)))};
}
template <>
TOVANE_KERNEL WideLanes Load(const PF_Pixel16& p) {
  return {_mm256_cvtepi32_pd(_mm_cvtepu16_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(&p))))};
}
template <>
TOVANE_KERNEL WideLanes Load(const PF_PixelFloat& p) {
  return {_mm256_cvtps_pd(_mm_loadu_ps(&p.alpha))};
}

using L = WideLanes;
#include "ScalingCopyKernels.inc"

// Enlarging (and exact halving) has two taps per column and row. There the
// copy runs four output columns side by side with one channel per register:
// lane k of every register belongs to column 4 * group + k and goes through
// the reference's operations in the reference's order, so the lanes hold
// the reference's sums bit for bit. Sharing each load, weight and division
// among four pixels is what makes this faster than a pixel per register.
struct QuadColumns {
  enum Flag : unsigned char {
    kFits8 = 1,    // all eight taps lie in the 8 pixels from base (one 32-byte load at 8 bits, two at 16)
    kFits16 = 2,   // all eight taps lie in the 4 pixels from base (one 32-byte load at 16 bits)
    kAllReal = 4,  // no padding slot: float pixels need no masking
  };
  std::size_t groups = 0;
  // Per group, tap 0 of the four columns, then tap 1.
  std::vector<double> weight;
  std::vector<std::int32_t> index;
  std::vector<std::int32_t> window;  // index - base
  // Per group.
  std::vector<double> total;  // four columns
  std::vector<A_long> base;
  std::vector<unsigned char> flags;
  bool unit_totals = true;  // every column total is 1, so dividing by it changes nothing
};

QuadColumns PlanQuads(const AxisPlan& xs, A_long world_width) {
  constexpr std::size_t kTaps = 2;
  QuadColumns q;
  q.groups = xs.total.size() / 4;
  q.weight.resize(q.groups * 8);
  q.index.resize(q.groups * 8);
  q.window.resize(q.groups * 8);
  q.total.resize(q.groups * 4);
  q.base.resize(q.groups);
  q.flags.resize(q.groups);
  for (std::size_t g = 0; g < q.groups; ++g) {
    A_long lo = xs.index[4 * g * kTaps], hi = lo;
    bool real = true;
    for (std::size_t k = 0; k < 4; ++k) {
      const std::size_t c = 4 * g + k;
      for (std::size_t t = 0; t < kTaps; ++t) {
        const A_long i = xs.index[c * kTaps + t];
        lo = std::min(lo, i), hi = std::max(hi, i);
        q.index[g * 8 + t * 4 + k] = i;
        q.weight[g * 8 + t * 4 + k] = xs.weight[c * kTaps + t];
      }
      q.total[g * 4 + k] = xs.total[c];
      q.unit_totals = q.unit_totals && xs.total[c] == 1.0;
      real = real && xs.taps[c] == kTaps;
    }
    for (std::size_t s = 0; s < 8; ++s) q.window[g * 8 + s] = q.index[g * 8 + s] - lo;
    q.base[g] = lo;
    const std::int64_t span = std::int64_t{hi} - lo;
    const bool fits8 = span < 8 && std::int64_t{lo} + 8 <= world_width;
    const bool fits16 = span < 4 && std::int64_t{lo} + 4 <= world_width;
    q.flags[g] = static_cast<unsigned char>((fits8 ? QuadColumns::kFits8 : 0) | (fits16 ? QuadColumns::kFits16 : 0) |
                                            (real ? QuadColumns::kAllReal : 0));
  }
  return q;
}

// One channel of four pixels per register.
struct Quad {
  __m256d a, r, g, b;
};

TOVANE_KERNEL __m256i Vector8(const std::int32_t* v) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(v)); }

// The four pixels of tap 0 of a group's columns in the low half, those of
// tap 1 in the high half, from one source row.
TOVANE_KERNEL __m256i FetchPixels8(const PF_Pixel8* row, const QuadColumns& q, std::size_t g) {
  if (q.flags[g] & QuadColumns::kFits8)
    return _mm256_permutevar8x32_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + q.base[g])),
                                       Vector8(&q.window[g * 8]));
  return _mm256_i32gather_epi32(reinterpret_cast<const int*>(row), Vector8(&q.index[g * 8]), 4);
}

// Four 8-bit pixels (one per 32-bit lane) as a channel per register.
TOVANE_KERNEL Quad Channels8(__m128i p) {
  // Byte n of each lane, zero-extended: adding n to the low byte of each
  // lane of this mask (the others stay -1, "zero").
  const __m128i byte0 = _mm_setr_epi8(0, -1, -1, -1, 4, -1, -1, -1, 8, -1, -1, -1, 12, -1, -1, -1);
  return {_mm256_cvtepi32_pd(_mm_shuffle_epi8(p, byte0)),
          _mm256_cvtepi32_pd(_mm_shuffle_epi8(p, _mm_add_epi8(byte0, _mm_set1_epi32(1)))),
          _mm256_cvtepi32_pd(_mm_shuffle_epi8(p, _mm_add_epi8(byte0, _mm_set1_epi32(2)))),
          _mm256_cvtepi32_pd(_mm_shuffle_epi8(p, _mm_add_epi8(byte0, _mm_set1_epi32(3))))};
}

struct Row8 {
  __m256i pixels;
  TOVANE_KERNEL Row8(const PF_Pixel8* row, const QuadColumns& q, std::size_t g) : pixels(FetchPixels8(row, q, g)) {}
  TOVANE_KERNEL Quad Tap(std::size_t tx) const {
    return Channels8(tx == 0 ? _mm256_castsi256_si128(pixels) : _mm256_extracti128_si256(pixels, 1));
  }
};

// At 16 bits each pixel is two 32-bit words, alpha and red, then green and
// blue; these hold the first words of the eight taps and the second words.
struct Row16 {
  __m256i ar, gb;
  TOVANE_KERNEL Row16(const PF_Pixel16* row, const QuadColumns& q, std::size_t g) {
    const __m256i one = _mm256_set1_epi32(1);
    if (q.flags[g] & QuadColumns::kFits16) {
      const __m256i words = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + q.base[g]));
      const __m256i first = _mm256_add_epi32(Vector8(&q.window[g * 8]), Vector8(&q.window[g * 8]));
      ar = _mm256_permutevar8x32_epi32(words, first);
      gb = _mm256_permutevar8x32_epi32(words, _mm256_add_epi32(first, one));
    } else if (q.flags[g] & QuadColumns::kFits8) {
      // Eight pixels in two loads (halving spans that many); a word index
      // above 7 is in the second, whose permute uses its low three bits.
      const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + q.base[g]));
      const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + q.base[g] + 4));
      const __m256i first = _mm256_add_epi32(Vector8(&q.window[g * 8]), Vector8(&q.window[g * 8]));
      const __m256i second = _mm256_add_epi32(first, one);
      const __m256i in_high = _mm256_cmpgt_epi32(first, _mm256_set1_epi32(7));
      ar = _mm256_blendv_epi8(_mm256_permutevar8x32_epi32(low, first), _mm256_permutevar8x32_epi32(high, first),
                              in_high);
      gb = _mm256_blendv_epi8(_mm256_permutevar8x32_epi32(low, second), _mm256_permutevar8x32_epi32(high, second),
                              in_high);
    } else {
      const int* base = reinterpret_cast<const int*>(row);
      const __m256i first = _mm256_add_epi32(Vector8(&q.index[g * 8]), Vector8(&q.index[g * 8]));
      ar = _mm256_i32gather_epi32(base, first, 4);
      gb = _mm256_i32gather_epi32(base, _mm256_add_epi32(first, one), 4);
    }
  }
  TOVANE_KERNEL Quad Tap(std::size_t tx) const {
    const __m128i x = tx == 0 ? _mm256_castsi256_si128(ar) : _mm256_extracti128_si256(ar, 1);
    const __m128i y = tx == 0 ? _mm256_castsi256_si128(gb) : _mm256_extracti128_si256(gb, 1);
    const __m128i low = _mm_set1_epi32(0xFFFF);
    return {_mm256_cvtepi32_pd(_mm_and_si128(x, low)), _mm256_cvtepi32_pd(_mm_srli_epi32(x, 16)),
            _mm256_cvtepi32_pd(_mm_and_si128(y, low)), _mm256_cvtepi32_pd(_mm_srli_epi32(y, 16))};
  }
};

// Float pixels are read per tap. With kMasked, a padding slot (of the row,
// or of a column as `real` says) reads as zero, which adds +0.0 to each sum
// where the reference adds nothing; see RealTapsOnly for why that is exact.
template <bool kMasked>
struct RowFloat {
  const PF_PixelFloat* row;
  const std::int32_t* index;
  const unsigned char* real;  // per tap and lane, when kMasked
  TOVANE_KERNEL Quad Tap(std::size_t tx) const {
    __m128 p[4];
    for (std::size_t k = 0; k < 4; ++k) {
      p[k] = _mm_loadu_ps(&row[index[tx * 4 + k]].alpha);
      if constexpr (kMasked) p[k] = real[tx * 4 + k] ? p[k] : _mm_setzero_ps();
    }
    _MM_TRANSPOSE4_PS(p[0], p[1], p[2], p[3]);
    return {_mm256_cvtps_pd(p[0]), _mm256_cvtps_pd(p[1]), _mm256_cvtps_pd(p[2]), _mm256_cvtps_pd(p[3])};
  }
};

// The alpha-weighted sums of a group, taps visited as the reference visits
// them (rows outer, columns inner). Integer sums may start from their first
// term instead of 0.0 + it: every term is +0.0 or positive, and 0.0 + x is x
// for those. Float terms may be -0.0, which 0.0 + turns into +0.0.
template <bool kFromZero, typename Row>
TOVANE_KERNEL Quad WeightedSums(const Row* rows, const double* wx, const double* wy) {
  Quad s{};
  for (std::size_t ty = 0; ty < 2; ++ty) {
    const __m256d row_weight = _mm256_set1_pd(wy[ty]);
    for (std::size_t tx = 0; tx < 2; ++tx) {
      const Quad p = rows[ty].Tap(tx);
      const __m256d wa = _mm256_mul_pd(_mm256_mul_pd(_mm256_loadu_pd(wx + 4 * tx), row_weight), p.a);
      if (!kFromZero && ty == 0 && tx == 0) {
        s = {wa, _mm256_mul_pd(wa, p.r), _mm256_mul_pd(wa, p.g), _mm256_mul_pd(wa, p.b)};
        continue;
      }
      s.a = _mm256_add_pd(s.a, wa);
      s.r = _mm256_add_pd(s.r, _mm256_mul_pd(wa, p.r));
      s.g = _mm256_add_pd(s.g, _mm256_mul_pd(wa, p.g));
      s.b = _mm256_add_pd(s.b, _mm256_mul_pd(wa, p.b));
    }
  }
  return s;
}

// The unweighted colour sums, for lanes whose alpha sum is not above 0.
template <typename Row>
TOVANE_KERNEL void PlainSums(const Row* rows, const double* wx, const double* wy, Quad& s) {
  s = {_mm256_setzero_pd(), _mm256_setzero_pd(), _mm256_setzero_pd(), _mm256_setzero_pd()};
  for (std::size_t ty = 0; ty < 2; ++ty) {
    const __m256d row_weight = _mm256_set1_pd(wy[ty]);
    for (std::size_t tx = 0; tx < 2; ++tx) {
      const Quad p = rows[ty].Tap(tx);
      const __m256d w = _mm256_mul_pd(_mm256_loadu_pd(wx + 4 * tx), row_weight);
      s.r = _mm256_add_pd(s.r, _mm256_mul_pd(w, p.r));
      s.g = _mm256_add_pd(s.g, _mm256_mul_pd(w, p.g));
      s.b = _mm256_add_pd(s.b, _mm256_mul_pd(w, p.b));
    }
  }
}

// Integer rows take the plain sums out of line, reading the pixels again:
// inlined, the common case keeps every converted pixel in registers for
// them and spills. Float rows measured faster inlined.
template <typename Row>
__attribute__((noinline)) void PlainSumsOutOfLine(const Row* rows, const double* wx, const double* wy, Quad& s) {
  PlainSums(rows, wx, wy, s);
}

// The reference's two branches per lane: alpha over the total and colour
// over alpha where the alpha sum is above 0, else the plain colour over the
// total. Alpha of the second branch is left to the caller (kept).
template <bool kPlainOutOfLine, typename Row>
TOVANE_KERNEL Quad Resolve(const Quad& s, const Row* rows, const double* wx, const double* wy, __m256d total,
                           bool unit_total, __m256d& weighted) {
  weighted = _mm256_cmp_pd(s.a, _mm256_setzero_pd(), _CMP_GT_OQ);
  const __m256d alpha = unit_total ? s.a : _mm256_div_pd(s.a, total);
  if (_mm256_movemask_pd(weighted) == 0xF)
    return {alpha, _mm256_div_pd(s.r, s.a), _mm256_div_pd(s.g, s.a), _mm256_div_pd(s.b, s.a)};
  Quad plain;
  if constexpr (kPlainOutOfLine)
    PlainSumsOutOfLine(rows, wx, wy, plain);
  else
    PlainSums(rows, wx, wy, plain);
  const __m256d divisor = _mm256_blendv_pd(total, s.a, weighted);
  return {alpha, _mm256_div_pd(_mm256_blendv_pd(plain.r, s.r, weighted), divisor),
          _mm256_div_pd(_mm256_blendv_pd(plain.g, s.g, weighted), divisor),
          _mm256_div_pd(_mm256_blendv_pd(plain.b, s.b, weighted), divisor)};
}

// Channel<kMax> on four lanes. For 0.5 <= v < kMax, v + 0.5 rounds in
// double to a value with the same integer part as the exact sum (it is
// exact unless it crosses a power of two, which is then an integer), so
// truncating it rounds halves away from zero; below 0.5, NaN included, the
// result is 0.
template <int kMax>
TOVANE_KERNEL __m128i RoundQuad(__m256d v) {
  const __m256d half = _mm256_set1_pd(0.5);
  const __m256d kept = _mm256_and_pd(v, _mm256_cmp_pd(v, half, _CMP_GE_OQ));
  return _mm256_cvttpd_epi32(_mm256_add_pd(_mm256_min_pd(kept, _mm256_set1_pd(kMax)), half));
}

TOVANE_KERNEL void StoreQuad(const Quad& q, PF_Pixel8* out) {
  const __m128i ar = _mm_packus_epi32(RoundQuad<PF_MAX_CHAN8>(q.a), RoundQuad<PF_MAX_CHAN8>(q.r));
  const __m128i gb = _mm_packus_epi32(RoundQuad<PF_MAX_CHAN8>(q.g), RoundQuad<PF_MAX_CHAN8>(q.b));
  const __m128i planar = _mm_packus_epi16(ar, gb);  // a0..a3 r0..r3 g0..g3 b0..b3
  const __m128i pixels = _mm_shuffle_epi8(planar, _mm_setr_epi8(0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), pixels);
}

TOVANE_KERNEL void StoreQuad(const Quad& q, PF_Pixel16* out) {
  const __m128i ar = _mm_packus_epi32(RoundQuad<PF_MAX_CHAN16>(q.a), RoundQuad<PF_MAX_CHAN16>(q.r));
  const __m128i gb = _mm_packus_epi32(RoundQuad<PF_MAX_CHAN16>(q.g), RoundQuad<PF_MAX_CHAN16>(q.b));
  const __m128i ar_pairs = _mm_unpacklo_epi16(ar, _mm_unpackhi_epi64(ar, ar));  // a0 r0 a1 r1 ...
  const __m128i gb_pairs = _mm_unpacklo_epi16(gb, _mm_unpackhi_epi64(gb, gb));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi32(ar_pairs, gb_pairs));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2), _mm_unpackhi_epi32(ar_pairs, gb_pairs));
}

template <typename Pixel, typename Row>
TOVANE_KERNEL void IntegerQuadRow(const PF_EffectWorld& src, Pixel* out, const AxisPlan& xs, const QuadColumns& q,
                                  const double* wy, const A_long* iy, double ytotal) {
  const Pixel* srow[2] = {SourceRow<Pixel>(src, iy[0]), SourceRow<Pixel>(src, iy[1])};
  const bool unit_total = q.unit_totals && ytotal == 1.0;
  const __m256d row_total = _mm256_set1_pd(ytotal);
  for (std::size_t g = 0; g < q.groups; ++g) {
    const Row rows[2] = {Row(srow[0], q, g), Row(srow[1], q, g)};
    const double* wx = &q.weight[g * 8];
    const Quad s = WeightedSums<false>(rows, wx, wy);
    const __m256d total = _mm256_mul_pd(_mm256_loadu_pd(&q.total[g * 4]), row_total);
    __m256d weighted;
    Quad r = Resolve<true>(s, rows, wx, wy, total, unit_total, weighted);
    r.a = _mm256_and_pd(r.a, weighted);  // the plain branch's alpha is 0
    StoreQuad(r, out + 4 * g);
  }
  for (std::size_t c = 4 * q.groups; c < xs.total.size(); ++c)
    IntegerColumn<Pixel, 2, 2>(srow, 2, xs, c, wy, ytotal, out[c]);
}

template <bool kMasked>
TOVANE_KERNEL void FloatQuadGroup(const PF_PixelFloat* const* srow, PF_PixelFloat* out, const QuadColumns& q,
                                  std::size_t g, const double* wy, std::size_t ny, __m256d row_total,
                                  bool unit_total) {
  unsigned char real[2][8] = {};
  if constexpr (kMasked) {
    const bool all = q.flags[g] & QuadColumns::kAllReal;
    for (std::size_t s = 0; s < 8; ++s) {
      // A column's padding slot has weight 0; its real taps do not.
      const bool x_real = all || q.weight[g * 8 + s] != 0.0;
      real[0][s] = x_real && ny > 0;
      real[1][s] = x_real && ny > 1;
    }
  }
  const RowFloat<kMasked> rows[2] = {{srow[0], &q.index[g * 8], real[0]}, {srow[1], &q.index[g * 8], real[1]}};
  const double* wx = &q.weight[g * 8];
  const Quad s = WeightedSums<true>(rows, wx, wy);
  const __m256d total = _mm256_mul_pd(_mm256_loadu_pd(&q.total[g * 4]), row_total);
  __m256d weighted;
  const Quad r = Resolve<false>(s, rows, wx, wy, total, unit_total, weighted);
  __m128 p0 = _mm256_cvtpd_ps(r.a), p1 = _mm256_cvtpd_ps(r.r), p2 = _mm256_cvtpd_ps(r.g), p3 = _mm256_cvtpd_ps(r.b);
  _MM_TRANSPOSE4_PS(p0, p1, p2, p3);
  _mm_storeu_ps(&out[4 * g].alpha, p0);
  _mm_storeu_ps(&out[4 * g + 1].alpha, p1);
  _mm_storeu_ps(&out[4 * g + 2].alpha, p2);
  _mm_storeu_ps(&out[4 * g + 3].alpha, p3);
}

TOVANE_KERNEL void FloatQuadRow(const PF_EffectWorld& src, PF_PixelFloat* out, const AxisPlan& xs,
                                const QuadColumns& q, const double* wy, const A_long* iy, std::size_t ny,
                                double ytotal) {
  const PF_PixelFloat* srow[2] = {SourceRow<PF_PixelFloat>(src, iy[0]), SourceRow<PF_PixelFloat>(src, iy[1])};
  const bool unit_total = q.unit_totals && ytotal == 1.0;
  const __m256d row_total = _mm256_set1_pd(ytotal);
  for (std::size_t g = 0; g < q.groups; ++g) {
    if (ny == 2 && (q.flags[g] & QuadColumns::kAllReal))
      FloatQuadGroup<false>(srow, out, q, g, wy, ny, row_total, unit_total);
    else
      FloatQuadGroup<true>(srow, out, q, g, wy, ny, row_total, unit_total);
  }
  for (std::size_t c = 4 * q.groups; c < xs.total.size(); ++c) FloatColumn(src, xs, c, wy, iy, ny, ytotal, out[c]);
}

// Copies with two taps per column and row; false, writing nothing, for
// other copies.
TOVANE_KERNEL bool QuadCopy(const PF_EffectWorld& src, PF_EffectWorld& dst, const AxisPlan& xs, const AxisPlan& ys,
                            std::int64_t out_x, std::int64_t out_y) {
  if (xs.stride != 2 || ys.stride != 2) return false;
  const QuadColumns q = PlanQuads(xs, src.width);
  for (std::size_t r = 0; r < ys.total.size(); ++r) {
    const double* wy = &ys.weight[r * 2];
    const A_long* iy = &ys.index[r * 2];
    switch (DepthOf(dst)) {
      case BitDepth::k8:
        IntegerQuadRow<PF_Pixel8, Row8>(src, DestRow<PF_Pixel8>(dst, out_y + static_cast<std::int64_t>(r)) + out_x,
                                        xs, q, wy, iy, ys.total[r]);
        break;
      case BitDepth::k16:
        IntegerQuadRow<PF_Pixel16, Row16>(
            src, DestRow<PF_Pixel16>(dst, out_y + static_cast<std::int64_t>(r)) + out_x, xs, q, wy, iy, ys.total[r]);
        break;
      case BitDepth::k32:
        FloatQuadRow(src, DestRow<PF_PixelFloat>(dst, out_y + static_cast<std::int64_t>(r)) + out_x, xs, q, wy, iy,
                     ys.taps[r], ys.total[r]);
        break;
    }
  }
  return true;
}

}  // namespace wide
#pragma GCC pop_options

// AVX-512: two output pixels per register for the two-by-two taps of
// enlarging and halving at 8 and 16 bits, lane for lane the same operations
// as the four-lane loops, which take every other case.
#pragma GCC push_options
#pragma GCC target("avx2,avx512f")
// GCC 12 warns of the deliberately undefined source operands inside its own
// AVX-512 intrinsics.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
namespace wide512 {

// Two pixels' alpha, red, green, blue as eight doubles.
TOVANE_KERNEL __m512d LoadTwo(const PF_Pixel8& a, const PF_Pixel8& b) {
  int pa, pb;
  __builtin_memcpy(&pa, &a, 4);
  __builtin_memcpy(&pb, &b, 4);
  return _mm512_cvtepi32_pd(_mm256_cvtepu8_epi32(_mm_unpacklo_epi32(_mm_cvtsi32_si128(pa), _mm_cvtsi32_si128(pb))));
}
TOVANE_KERNEL __m512d LoadTwo(const PF_Pixel16& a, const PF_Pixel16& b) {
  const __m128i both = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(&a)),
                                          _mm_loadl_epi64(reinterpret_cast<const __m128i*>(&b)));
  return _mm512_cvtepi32_pd(_mm256_cvtepu16_epi32(both));
}

TOVANE_KERNEL __m512d LoadTwo(const PF_PixelFloat& a, const PF_PixelFloat& b) {
  return _mm512_cvtps_pd(
      _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_loadu_ps(&a.alpha)), _mm_loadu_ps(&b.alpha), 1));
}

// x in the first pixel's four lanes, y in the second's.
TOVANE_KERNEL __m512d Halves(double x, double y) { return _mm512_insertf64x4(_mm512_set1_pd(x), _mm256_set1_pd(y), 1); }

// Rounds as Channel<kMax> and stores two pixels.
template <int kMax, typename Pixel>
TOVANE_KERNEL void StoreRoundedTwo(__m512d q, Pixel* out) {
  const __m512d clamped = _mm512_min_pd(_mm512_max_pd(q, _mm512_setzero_pd()), _mm512_set1_pd(kMax));
  const __m256i t = _mm512_cvttpd_epi32(clamped);
  const __m512d frac = _mm512_sub_pd(clamped, _mm512_cvtepi32_pd(t));
  const __mmask8 half_up = _mm512_cmp_pd_mask(frac, _mm512_set1_pd(0.5), _CMP_GE_OQ);
  const __m256i rounded = _mm256_add_epi32(t, _mm512_cvttpd_epi32(_mm512_maskz_mov_pd(half_up, _mm512_set1_pd(1.0))));
  // Packing works within each 128-bit half: one pixel per half.
  const __m256i words = _mm256_packus_epi32(rounded, _mm256_setzero_si256());
  if constexpr (sizeof(Pixel) == 4) {
    const __m256i bytes = _mm256_packus_epi16(words, _mm256_setzero_si256());
    const int first = _mm_cvtsi128_si32(_mm256_castsi256_si128(bytes));
    const int second = _mm_cvtsi128_si32(_mm256_extracti128_si256(bytes, 1));
    __builtin_memcpy(out, &first, 4);
    __builtin_memcpy(out + 1, &second, 4);
  } else {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(words));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 1), _mm256_extracti128_si256(words, 1));
  }
}

// The x weights of every pair of output columns with two taps each, laid
// out as the pair loops multiply by them: for a pair and a tap, the first
// column's weight in lanes 0-3 and the second's in lanes 4-7. Made once per
// copy; multiplying the lanes by a row weight gives exactly the products
// wx * wy the reference forms, one per lane.
class PairWeights {
 public:
  explicit PairWeights(const AxisPlan& xs) {
    constexpr std::size_t kTaps = 2;
    const std::size_t pairs = xs.total.size() / 2;
    lanes_.resize(pairs * kTaps * 8);
    for (std::size_t pair = 0; pair < pairs; ++pair) {
      for (std::size_t tx = 0; tx < kTaps; ++tx) {
        double* lane = &lanes_[(pair * kTaps + tx) * 8];
        std::fill(lane, lane + 4, xs.weight[(2 * pair) * kTaps + tx]);
        std::fill(lane + 4, lane + 8, xs.weight[(2 * pair + 1) * kTaps + tx]);
      }
    }
  }
  // The sixteen lanes of the pair starting at column c (even).
  const double* of(std::size_t c) const { return &lanes_[c * 8]; }

 private:
  std::vector<double> lanes_;
};

// Float pixels may be infinite, and a padding slot's zero weight times an
// infinity is NaN where the reference adds nothing. For them each of the
// four taps (index ty * 2 + tx) has a mask of the lanes where it is a real
// tap, and the pixel is zeroed elsewhere: the padding then adds +0.0, which
// leaves every sum as it was (a sum that starts at +0.0 never becomes -0.0).
// Integer pixels pass null: their padding is finite and weighs 0.
TOVANE_KERNEL __m512d RealTapsOnly(__m512d p, const __mmask8* real, std::size_t tap) {
  return real != nullptr ? _mm512_maskz_mov_pd(real[tap], p) : p;
}

// Visits the four taps of a pair of output pixels, in the reference's order
// (rows outer, columns inner), with both pixels' values (padding masked) and
// weights wx * wy. `lanes` are the pair's x weights (PairWeights::of).
template <typename Pixel, typename Visit>
TOVANE_KERNEL void ForEachTapOfTwo(const Pixel* const* srow, const A_long* ix, const double* lanes, const double* wy,
                                   const __mmask8* real, Visit visit) {
  constexpr std::size_t kTaps = 2;
  for (std::size_t ty = 0; ty < kTaps; ++ty) {
    const __m512d row_weight = _mm512_set1_pd(wy[ty]);
    for (std::size_t tx = 0; tx < kTaps; ++tx) {
      const __m512d p =
          RealTapsOnly(LoadTwo(srow[ty][ix[tx]], srow[ty][ix[kTaps + tx]]), real, ty * kTaps + tx);
      visit(p, _mm512_mul_pd(_mm512_loadu_pd(lanes + 8 * tx), row_weight));
    }
  }
}

// Both pixels' sums over two by two taps, as the four-lane loops form them.
template <typename Pixel>
TOVANE_KERNEL __m512d SumTwo(const Pixel* const* srow, const A_long* ix, const double* lanes, const double* wy,
                             const __mmask8* real) {
  const __m512i alpha_lanes = _mm512_setr_epi64(0, 0, 0, 0, 4, 4, 4, 4);
  __m512d acc = _mm512_setzero_pd();
  ForEachTapOfTwo(srow, ix, lanes, wy, real, [&](__m512d p, __m512d w) {
    const __m512d wa = _mm512_mul_pd(w, _mm512_permutexvar_pd(alpha_lanes, p));
    acc = _mm512_add_pd(acc, _mm512_mul_pd(wa, _mm512_mask_blend_pd(0x11, p, _mm512_set1_pd(1.0))));
  });
  return acc;
}

// Both pixels' unweighted colour sums, for footprints without alpha.
template <typename Pixel>
TOVANE_KERNEL __m512d PlainSumTwo(const Pixel* const* srow, const A_long* ix, const double* lanes, const double* wy,
                                  const __mmask8* real) {
  __m512d plain = _mm512_setzero_pd();
  ForEachTapOfTwo(srow, ix, lanes, wy, real, [&](__m512d p, __m512d w) {
    plain = _mm512_add_pd(plain, _mm512_mul_pd(w, _mm512_mask_blend_pd(0x11, p, _mm512_setzero_pd())));
  });
  return plain;
}

// Each pixel's result lanes: [alpha / total, red / alpha, ...] where its
// alpha sum is above 0, else the plain sums over the total (the reference's
// two branches, chosen per pixel). In that second branch float alpha is
// still its sum over the total; integer alpha is the plain sums' 0.
template <bool kFloatAlpha, typename Pixel>
TOVANE_KERNEL __m512d ResolveTwo(__m512d acc, const Pixel* const* srow, const A_long* ix, const double* lanes,
                                 const double* wy, const __mmask8* real, double total0, double total1) {
  const __m512d alphas = _mm512_permutexvar_pd(_mm512_setr_epi64(0, 0, 0, 0, 4, 4, 4, 4), acc);
  const __m512d totals = Halves(total0, total1);
  const __mmask8 weighted = _mm512_cmp_pd_mask(alphas, _mm512_setzero_pd(), _CMP_GT_OQ);
  const __m512d q = _mm512_div_pd(acc, _mm512_mask_blend_pd(0x11, alphas, totals));
  if (weighted == 0xff) return q;
  __m512d plain = _mm512_div_pd(PlainSumTwo(srow, ix, lanes, wy, real), totals);
  if constexpr (kFloatAlpha) plain = _mm512_mask_blend_pd(0x11, plain, _mm512_div_pd(acc, totals));
  return _mm512_mask_blend_pd(weighted, plain, q);
}

// Float pixels, two output pixels at a time wherever the plans have two
// slots per column and row; columns and rows with fewer real taps (an exact
// pixel centre, the world's edge) run in the pairs with their padding masked.
TOVANE_KERNEL void FloatRowPairs(const PF_EffectWorld& src, PF_PixelFloat* out, const AxisPlan& xs,
                                 const PairWeights& pairs, const double* wy, const A_long* iy, std::size_t ny,
                                 std::size_t y_stride, double ytotal) {
  constexpr std::size_t kTaps = 2;
  const std::size_t columns = xs.total.size();
  if (y_stride != kTaps || xs.stride != kTaps) {
    wide::FloatRow(src, out, xs, wy, iy, ny, ytotal);
    return;
  }
  const PF_PixelFloat* srow[kTaps] = {SourceRow<PF_PixelFloat>(src, iy[0]), SourceRow<PF_PixelFloat>(src, iy[1])};
  std::size_t c = 0;
  for (; c + 1 < columns; c += 2) {
    __mmask8 real[kTaps * kTaps];
    for (std::size_t tx = 0; tx < kTaps; ++tx) {
      const auto lanes = static_cast<__mmask8>((xs.taps[c] > tx ? 0x0F : 0) | (xs.taps[c + 1] > tx ? 0xF0 : 0));
      for (std::size_t ty = 0; ty < kTaps; ++ty) real[ty * kTaps + tx] = ny > ty ? lanes : 0;
    }
    const A_long* ix = &xs.index[c * kTaps];
    const double* lanes = pairs.of(c);
    const __m512d q = ResolveTwo<true>(SumTwo(srow, ix, lanes, wy, real), srow, ix, lanes, wy, real,
                                       xs.total[c] * ytotal, xs.total[c + 1] * ytotal);
    _mm256_storeu_ps(&out[c].alpha, _mm512_cvtpd_ps(q));
  }
  if (c < columns) wide::FloatColumn(src, xs, c, wy, iy, ny, ytotal, out[c]);
}

template <typename Pixel>
TOVANE_KERNEL void IntegerRowPairs(const PF_EffectWorld& src, Pixel* out, const AxisPlan& xs,
                                   const PairWeights& pairs, const double* wy, const A_long* iy, double ytotal) {
  constexpr std::size_t kTaps = 2;
  const Pixel* srow[kTaps] = {SourceRow<Pixel>(src, iy[0]), SourceRow<Pixel>(src, iy[1])};
  const std::size_t columns = xs.total.size();
  std::size_t c = 0;
  for (; c + 1 < columns; c += 2) {
    const A_long* ix = &xs.index[c * kTaps];
    const double* lanes = pairs.of(c);
    const __m512d q = ResolveTwo<false>(SumTwo(srow, ix, lanes, wy, nullptr), srow, ix, lanes, wy, nullptr,
                                        xs.total[c] * ytotal, xs.total[c + 1] * ytotal);
    StoreRoundedTwo<IntegerTraits<Pixel>::kMax>(q, out + c);
  }
  for (; c < columns; ++c) wide::IntegerColumn<Pixel, kTaps, kTaps>(srow, kTaps, xs, c, wy, ytotal, out[c]);
}

template <typename Pixel>
TOVANE_KERNEL void IntegerCopy(const PF_EffectWorld& src, PF_EffectWorld& dst, const AxisPlan& xs, const AxisPlan& ys,
                               std::int64_t out_x, std::int64_t out_y) {
  if (xs.stride != 2 || ys.stride != 2) {
    wide::IntegerCopy<Pixel>(src, dst, xs, ys, out_x, out_y);
    return;
  }
  const PairWeights pairs(xs);
  const std::size_t rows = ys.total.size();
  for (std::size_t r = 0; r < rows; ++r) {
    Pixel* out = DestRow<Pixel>(dst, out_y + static_cast<std::int64_t>(r)) + out_x;
    IntegerRowPairs<Pixel>(src, out, xs, pairs, &ys.weight[r * 2], &ys.index[r * 2], ys.total[r]);
  }
}

TOVANE_KERNEL void CopyWith(const PF_EffectWorld& src, PF_EffectWorld& dst, const AxisPlan& xs, const AxisPlan& ys,
                            std::int64_t out_x, std::int64_t out_y) {
  switch (DepthOf(dst)) {
    case BitDepth::k8:
      IntegerCopy<PF_Pixel8>(src, dst, xs, ys, out_x, out_y);
      break;
    case BitDepth::k16:
      IntegerCopy<PF_Pixel16>(src, dst, xs, ys, out_x, out_y);
      break;
    case BitDepth::k32: {
      // Pair weights only where the pair loops run: two taps per column.
      const PairWeights pairs(xs.stride == 2 ? xs : AxisPlan{});
      for (std::size_t r = 0; r < ys.total.size(); ++r) {
        PF_PixelFloat* out = DestRow<PF_PixelFloat>(dst, out_y + static_cast<std::int64_t>(r)) + out_x;
        FloatRowPairs(src, out, xs, pairs, &ys.weight[r * ys.stride], &ys.index[r * ys.stride], ys.taps[r],
                      ys.stride, ys.total[r]);
      }
      break;
    }
  }
}

}  // namespace wide512
#pragma GCC diagnostic pop
#pragma GCC pop_options
#endif
void CopyPortable(const PF_EffectWorld& src, PF_EffectWorld& dst, const AxisPlan& xs, const AxisPlan& ys,
                  std::int64_t out_x, std::int64_t out_y) {
  portable::CopyWith(src, dst, xs, ys, out_x, out_y);
}

#if defined(TOVANE_HAVE_AVX2_KERNELS)
__attribute__((target("avx2"))) void CopyAvx2(const PF_EffectWorld& src, PF_EffectWorld& dst, const AxisPlan& xs,
                                              const AxisPlan& ys, std::int64_t out_x, std::int64_t out_y) {
  if (!wide::QuadCopy(src, dst, xs, ys, out_x, out_y)) wide::CopyWith(src, dst, xs, ys, out_x, out_y);
}

__attribute__((target("avx2,avx512f"))) void CopyAvx512(const PF_EffectWorld& src, PF_EffectWorld& dst,
                                                        const AxisPlan& xs, const AxisPlan& ys, std::int64_t out_x,
                                                        std::int64_t out_y) {
  wide512::CopyWith(src, dst, xs, ys, out_x, out_y);
}

bool HasAvx2() {
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
}

bool HasAvx512() {
  static const bool has = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx2");
  return has;
}
#endif

}  // namespace

bool ScaledCopyFast(const PF_EffectWorld& src, PF_EffectWorld& dst, const ScaledCopyGeometry& g, VectorWidth widest) {
  // Padding slots need some pixel to point at.
  if (src.width <= 0 || src.height <= 0 || src.data == nullptr) return false;
  if (g.out_w <= 0 || g.out_h <= 0) return true;
  const AxisPlan xs = PlanAxis(g.src_x, g.src_w, g.dst_x, g.dst_w, g.out_x, g.out_w, src.width);
  const AxisPlan ys = PlanAxis(g.src_y, g.src_h, g.dst_y, g.dst_h, g.out_y, g.out_h, src.height);
#if defined(TOVANE_HAVE_AVX2_KERNELS)
  if (widest >= VectorWidth::k512 && HasAvx512()) {
    CopyAvx512(src, dst, xs, ys, g.out_x, g.out_y);
    return true;
  }
  if (widest >= VectorWidth::k256 && HasAvx2()) {
    CopyAvx2(src, dst, xs, ys, g.out_x, g.out_y);
    return true;
  }
#else
  (void)widest;
#endif
  CopyPortable(src, dst, xs, ys, g.out_x, g.out_y);
  return true;
}

}  // namespace hostsim
