#include "ScalingCopy.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "AxisTaps.h"
#include "PixelWorld.h"
#include "ScalingCopyFast.h"

namespace hostsim {
namespace {

// Rectangles widened to 64 bits: right - left of a 32-bit rectangle can
// exceed the 32-bit range.
struct Span {
  std::int64_t lo = 0;
  std::int64_t len = 0;
};

struct Area {
  Span x, y;
  bool empty() const { return x.len <= 0 || y.len <= 0; }
};

Area AreaOf(const PF_LRect* rect, const PF_EffectWorld& world) {
  if (rect == nullptr) return {{0, world.width}, {0, world.height}};
  return {{rect->left, std::int64_t{rect->right} - rect->left},
          {rect->top, std::int64_t{rect->bottom} - rect->top}};
}

bool UsableWorld(const PF_EffectWorld& world) {
  if (world.width < 0 || world.height < 0) return false;
  if (world.width == 0 || world.height == 0) return true;
  if (world.data == nullptr) return false;
  const std::int64_t row = std::int64_t{world.width} * static_cast<std::int64_t>(BytesPerPixel(DepthOf(world)));
  return world.rowbytes >= row;
}

std::size_t ByteSize(const PF_EffectWorld& world) {
  if (world.width <= 0 || world.height <= 0) return 0;
  return static_cast<std::size_t>(world.rowbytes) * static_cast<std::size_t>(world.height);
}

bool SharesMemory(const PF_EffectWorld& a, const PF_EffectWorld& b) {
  const std::size_t na = ByteSize(a), nb = ByteSize(b);
  if (na == 0 || nb == 0) return false;
  const auto* pa = static_cast<const unsigned char*>(a.data);
  const auto* pb = static_cast<const unsigned char*>(b.data);
  return std::less<const unsigned char*>()(pa, pb + nb) && std::less<const unsigned char*>()(pb, pa + na);
}

// When source and destination memory overlap, the copy reads from a private
// snapshot of the source so that written pixels are never read back.
class SourceSnapshot {
 public:
  SourceSnapshot(const PF_EffectWorld& src, const PF_EffectWorld& dst) : world_(src) {
    if (!SharesMemory(src, dst)) return;
    const std::size_t bytes = ByteSize(src);
    // Doubles keep the alignment of every pixel type.
    memory_.reset(new double[(bytes + sizeof(double) - 1) / sizeof(double)]);
    std::memcpy(memory_.get(), src.data, bytes);
    world_.data = memory_.get();
  }
  const PF_EffectWorld& world() const { return world_; }

 private:
  PF_EffectWorld world_;
  std::unique_ptr<double[]> memory_;
};

struct Accumulator {
  double alpha = 0, red = 0, green = 0, blue = 0;          // alpha-weighted colour
  double plain_red = 0, plain_green = 0, plain_blue = 0;  // unweighted, for all-transparent footprints

  void Add(double w, double a, double r, double g, double b) {
    const double wa = w * a;
    alpha += wa;
    red += wa * r;
    green += wa * g;
    blue += wa * b;
    plain_red += w * r;
    plain_green += w * g;
    plain_blue += w * b;
  }
};

template <typename Pixel>
const Pixel& SourcePixel(const PF_EffectWorld& w, A_long x, A_long y) {
  return reinterpret_cast<const Pixel*>(static_cast<const unsigned char*>(w.data) +
                                        static_cast<std::ptrdiff_t>(y) * w.rowbytes)[x];
}

template <typename Pixel>
Pixel& DestPixel(PF_EffectWorld& w, A_long x, A_long y) {
  return reinterpret_cast<Pixel*>(static_cast<unsigned char*>(w.data) +
                                  static_cast<std::ptrdiff_t>(y) * w.rowbytes)[x];
}

template <typename Channel>
Channel ToChannel(double v, double max) {
  if (!(v > 0.0)) return 0;
  if (v >= max) return static_cast<Channel>(max);
  return static_cast<Channel>(std::lround(v));
}

template <typename Pixel>
Pixel Resolve(const Accumulator& acc, double total);

template <>
PF_Pixel8 Resolve<PF_Pixel8>(const Accumulator& acc, double total) {
  const double m = PF_MAX_CHAN8;
  if (acc.alpha > 0.0)
    return {ToChannel<A_u_char>(acc.alpha / total, m), ToChannel<A_u_char>(acc.red / acc.alpha, m),
            ToChannel<A_u_char>(acc.green / acc.alpha, m), ToChannel<A_u_char>(acc.blue / acc.alpha, m)};
  return {0, ToChannel<A_u_char>(acc.plain_red / total, m), ToChannel<A_u_char>(acc.plain_green / total, m),
          ToChannel<A_u_char>(acc.plain_blue / total, m)};
}

template <>
PF_Pixel16 Resolve<PF_Pixel16>(const Accumulator& acc, double total) {
  const double m = PF_MAX_CHAN16;
  if (acc.alpha > 0.0)
    return {ToChannel<A_u_short>(acc.alpha / total, m), ToChannel<A_u_short>(acc.red / acc.alpha, m),
            ToChannel<A_u_short>(acc.green / acc.alpha, m), ToChannel<A_u_short>(acc.blue / acc.alpha, m)};
  return {0, ToChannel<A_u_short>(acc.plain_red / total, m), ToChannel<A_u_short>(acc.plain_green / total, m),
          ToChannel<A_u_short>(acc.plain_blue / total, m)};
}

template <>
PF_PixelFloat Resolve<PF_PixelFloat>(const Accumulator& acc, double total) {
  // Float alpha may be negative or above 1 in HDR work; weighting by it is
  // only meaningful for positive sums.
  if (acc.alpha > 0.0)
    return {static_cast<float>(acc.alpha / total), static_cast<float>(acc.red / acc.alpha),
            static_cast<float>(acc.green / acc.alpha), static_cast<float>(acc.blue / acc.alpha)};
  return {static_cast<float>(acc.alpha / total), static_cast<float>(acc.plain_red / total),
          static_cast<float>(acc.plain_green / total), static_cast<float>(acc.plain_blue / total)};
}

// The part of `area` inside a world of the given size.
Area Clip(const Area& area, A_long width, A_long height) {
  Area c;
  c.x.lo = std::max<std::int64_t>(area.x.lo, 0);
  c.x.len = std::min<std::int64_t>(area.x.lo + area.x.len, width) - c.x.lo;
  c.y.lo = std::max<std::int64_t>(area.y.lo, 0);
  c.y.len = std::min<std::int64_t>(area.y.lo + area.y.len, height) - c.y.lo;
  return c;
}

// Checks shared by both implementations. Returns false with `err` set when
// nothing is to be written.
bool Prepare(const PF_EffectWorld& src, const PF_EffectWorld& dst, const PF_LRect* src_r, const PF_LRect* dst_r,
             PF_Err& err, Area& src_area, Area& dst_area, Area& written) {
  err = PF_Err_NONE;
  if (!UsableWorld(src) || !UsableWorld(dst) || DepthOf(src) != DepthOf(dst)) {
    err = PF_Err_BAD_CALLBACK_PARAM;
    return false;
  }
  src_area = AreaOf(src_r, src);
  dst_area = AreaOf(dst_r, dst);
  if (src_area.empty() || dst_area.empty()) return false;
  written = Clip(dst_area, dst.width, dst.height);
  return !written.empty();
}

template <typename Pixel>
void ReferenceCopy(const PF_EffectWorld& src, PF_EffectWorld& dst, const Area& s, const Area& d, const Area& out) {
  std::vector<Tap> xtaps, ytaps;
  double xtotal = 0, ytotal = 0;
  for (std::int64_t y = out.y.lo; y < out.y.lo + out.y.len; ++y) {
    for (std::int64_t x = out.x.lo; x < out.x.lo + out.x.len; ++x) {
      AxisTaps(s.x.lo, s.x.len, d.x.len, x - d.x.lo, src.width, xtaps, xtotal);
      AxisTaps(s.y.lo, s.y.len, d.y.len, y - d.y.lo, src.height, ytaps, ytotal);
      Accumulator acc;
      for (const Tap& ty : ytaps)
        for (const Tap& tx : xtaps) {
          const Pixel& p = SourcePixel<Pixel>(src, tx.index, ty.index);
          acc.Add(tx.weight * ty.weight, p.alpha, p.red, p.green, p.blue);
        }
      DestPixel<Pixel>(dst, static_cast<A_long>(x), static_cast<A_long>(y)) = Resolve<Pixel>(acc, xtotal * ytotal);
    }
  }
}

// Equal sizes: every output pixel is one source pixel, or transparent black
// where the source rectangle leaves the source world.
template <typename Pixel>
void ExactCopy(const PF_EffectWorld& src, PF_EffectWorld& dst, const Area& s, const Area& d, const Area& out) {
  const std::int64_t dx = s.x.lo - d.x.lo, dy = s.y.lo - d.y.lo;
  // Whole packed rows from inside the source are one block of memory on
  // both sides: a single memcpy, which the C library streams past the cache
  // when it is large, where row-sized calls would each go through it.
  const std::int64_t packed = std::int64_t{dst.width} * static_cast<std::int64_t>(sizeof(Pixel));
  if (dx == 0 && out.x.lo == 0 && out.x.len == dst.width && src.width == dst.width && src.rowbytes == packed &&
      dst.rowbytes == packed && out.y.lo + dy >= 0 && out.y.lo + out.y.len + dy <= src.height) {
    if (out.y.len > 0)
      std::memcpy(&DestPixel<Pixel>(dst, 0, static_cast<A_long>(out.y.lo)),
                  &SourcePixel<Pixel>(src, 0, static_cast<A_long>(out.y.lo + dy)),
                  static_cast<std::size_t>(out.y.len * packed));
    return;
  }
  for (std::int64_t y = out.y.lo; y < out.y.lo + out.y.len; ++y) {
    Pixel* row = &DestPixel<Pixel>(dst, 0, static_cast<A_long>(y));
    const std::int64_t sy = y + dy;
    // Source columns inside the source world, in destination coordinates.
    std::int64_t in_lo = out.x.lo, in_hi = out.x.lo;
    if (sy >= 0 && sy < src.height) {
      in_lo = std::clamp<std::int64_t>(-dx, out.x.lo, out.x.lo + out.x.len);
      in_hi = std::clamp<std::int64_t>(std::int64_t{src.width} - dx, in_lo, out.x.lo + out.x.len);
    }
    for (std::int64_t x = out.x.lo; x < in_lo; ++x) row[x] = Pixel{};
    if (in_hi > in_lo)
      std::memcpy(row + in_lo, &SourcePixel<Pixel>(src, static_cast<A_long>(in_lo + dx), static_cast<A_long>(sy)),
                  static_cast<std::size_t>(in_hi - in_lo) * sizeof(Pixel));
    for (std::int64_t x = in_hi; x < out.x.lo + out.x.len; ++x) row[x] = Pixel{};
  }
}

// Scaled copy with each axis' taps worked out once per column and row.
template <typename Pixel>
void SeparableCopy(const PF_EffectWorld& src, PF_EffectWorld& dst, const Area& s, const Area& d, const Area& out) {
  std::vector<std::vector<Tap>> columns(static_cast<std::size_t>(out.x.len));
  std::vector<double> column_totals(columns.size());
  for (std::size_t c = 0; c < columns.size(); ++c)
    AxisTaps(s.x.lo, s.x.len, d.x.len, out.x.lo + static_cast<std::int64_t>(c) - d.x.lo, src.width, columns[c],
             column_totals[c]);
  std::vector<Tap> ytaps;
  double ytotal = 0;
  for (std::int64_t y = out.y.lo; y < out.y.lo + out.y.len; ++y) {
    AxisTaps(s.y.lo, s.y.len, d.y.len, y - d.y.lo, src.height, ytaps, ytotal);
    Pixel* row = &DestPixel<Pixel>(dst, 0, static_cast<A_long>(y));
    for (std::size_t c = 0; c < columns.size(); ++c) {
      Accumulator acc;
      for (const Tap& ty : ytaps)
        for (const Tap& tx : columns[c]) {
          const Pixel& p = SourcePixel<Pixel>(src, tx.index, ty.index);
          acc.Add(tx.weight * ty.weight, p.alpha, p.red, p.green, p.blue);
        }
      row[out.x.lo + static_cast<std::int64_t>(c)] = Resolve<Pixel>(acc, column_totals[c] * ytotal);
    }
  }
}

template <template <typename> class Copier>
void Dispatch(const PF_EffectWorld& src, PF_EffectWorld& dst, const Area& s, const Area& d, const Area& out) {
  switch (DepthOf(dst)) {
    case BitDepth::k8: Copier<PF_Pixel8>::Run(src, dst, s, d, out); break;
    case BitDepth::k16: Copier<PF_Pixel16>::Run(src, dst, s, d, out); break;
    case BitDepth::k32: Copier<PF_PixelFloat>::Run(src, dst, s, d, out); break;
  }
}

template <typename Pixel>
struct ReferenceCopier {
  static void Run(const PF_EffectWorld& src, PF_EffectWorld& dst, const Area& s, const Area& d, const Area& out) {
    ReferenceCopy<Pixel>(src, dst, s, d, out);
  }
};

template <typename Pixel>
struct FastCopier {
  static void Run(const PF_EffectWorld& src, PF_EffectWorld& dst, const Area& s, const Area& d, const Area& out) {
    if (s.x.len == d.x.len && s.y.len == d.y.len)
      ExactCopy<Pixel>(src, dst, s, d, out);
    else if (!ScaledCopyFast(src, dst, {s.x.lo, s.x.len, s.y.lo, s.y.len, d.x.lo, d.x.len, d.y.lo, d.y.len,
                                        out.x.lo, out.x.len, out.y.lo, out.y.len}))
      SeparableCopy<Pixel>(src, dst, s, d, out);
  }
};

}  // namespace

PF_Err ScalingCopy(const PF_EffectWorld& src, PF_EffectWorld& dst, const PF_LRect* src_r, const PF_LRect* dst_r) {
  PF_Err err;
  Area s, d, out;
  if (!Prepare(src, dst, src_r, dst_r, err, s, d, out)) return err;
  SourceSnapshot snapshot(src, dst);
  Dispatch<FastCopier>(snapshot.world(), dst, s, d, out);
  return PF_Err_NONE;
}

PF_Err ScalingCopyReference(const PF_EffectWorld& src, PF_EffectWorld& dst, const PF_LRect* src_r,
                            const PF_LRect* dst_r) {
  PF_Err err;
  Area s, d, out;
  if (!Prepare(src, dst, src_r, dst_r, err, s, d, out)) return err;
  SourceSnapshot snapshot(src, dst);
  Dispatch<ReferenceCopier>(snapshot.world(), dst, s, d, out);
  return PF_Err_NONE;
}

}  // namespace hostsim
