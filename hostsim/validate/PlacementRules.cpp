#include "PlacementRules.h"

#include <cmath>
#include <cstdint>
#include <limits>

namespace hostsim::validate {

A_long Trunc32(double value) {
  if (std::isnan(value)) return 0;
  if (value >= 2147483647.0) return std::numeric_limits<A_long>::max();
  if (value <= -2147483648.0) return std::numeric_limits<A_long>::min();
  return static_cast<A_long>(std::trunc(value));
}

namespace {

A_long Clamp32(std::int64_t value) {
  if (value > std::numeric_limits<A_long>::max()) return std::numeric_limits<A_long>::max();
  if (value < std::numeric_limits<A_long>::min()) return std::numeric_limits<A_long>::min();
  return static_cast<A_long>(value);
}

bool IsEmpty(const PF_LRect& r) { return r.left >= r.right || r.top >= r.bottom; }

// trunc(b - a + 0.5), raised to 0 when negative.
A_long Near(double a, double b) {
  const A_long edge = Trunc32(b - a + 0.5);
  return edge < 0 ? 0 : edge;
}

// trunc(b + a + 0.5), lowered to `limit` when beyond it.
A_long Far(double a, double b, A_long limit) {
  const A_long edge = Trunc32(b + a + 0.5);
  return edge > limit ? limit : edge;
}

}  // namespace

A_long RequestedSide(A_long full_side, const PF_RationalScale& factor) {
  const double scale = static_cast<double>(factor.num) / static_cast<double>(factor.den);
  return Trunc32(static_cast<double>(full_side) * scale + 0.5);
}

void UnionInto(const PF_LRect& source, PF_LRect* destination) {
  if (IsEmpty(*destination)) {
    *destination = source;
    return;
  }
  if (IsEmpty(source)) return;
  if (source.left < destination->left) destination->left = source.left;
  if (source.top < destination->top) destination->top = source.top;
  if (source.right > destination->right) destination->right = source.right;
  if (source.bottom > destination->bottom) destination->bottom = source.bottom;
}

Placement PlaceByMode(A_long mode, A_long lw, A_long lh, A_long ow, A_long oh) {
  Placement p{{0, 0, lw, lh}, {0, 0, ow, oh}};
  if (lw == ow && lh == oh) return p;
  const double rx = static_cast<double>(ow) / static_cast<double>(lw);
  const double ry = static_cast<double>(oh) / static_cast<double>(lh);
  if (mode == controls::kCenter) {
    const std::int64_t lw2 = lw / 2, lh2 = lh / 2, ow2 = ow / 2, oh2 = oh / 2;
    p.src = {Clamp32(lw2 - ow2), Clamp32(lh2 - oh2), Clamp32(lw2 + ow2), Clamp32(lh2 + oh2)};
  } else if (mode == controls::kWhole) {
    if (ry > rx) {
      const double a = 0.5 * rx * lh;
      const double b = 0.5 * oh;
      p.dst.top = Near(a, b);
      p.dst.bottom = Far(a, b, oh);
    } else {
      const double a = 0.5 * ry * lw;
      const double b = 0.5 * ow;
      p.dst.left = Near(a, b);
      p.dst.right = Far(a, b, ow);
    }
  } else if (mode == controls::kNoMargin) {
    if (ry > rx) {
      const double a = 0.5 * ow / ry;
      const double b = 0.5 * lw;
      p.src.left = Near(a, b);
      p.src.right = Far(a, b, lw);
    } else {
      const double a = 0.5 * oh / rx;
      const double b = 0.5 * lh;
      p.src.top = Near(a, b);
      p.src.bottom = Far(a, b, lh);
    }
  }
  return p;
}

A_Time ShortenedDuration(const A_Time& duration, double frame_rate) {
  const std::int64_t one_frame = Trunc32(static_cast<double>(duration.scale) / frame_rate);
  const std::int64_t shortened = static_cast<std::int64_t>(duration.value) - one_frame;
  return A_Time{shortened > 0 ? Clamp32(shortened) : 0, duration.scale};
}

A_Time SourceCompTime(const SourceTimeInputs& in) {
  const A_Time shortened = ShortenedDuration(in.duration, in.frame_rate);
  double offset = 0.0;
  if (in.time_type == controls::kPercent) {
    const double ratio = in.percent_fixed / 65536.0 * 0.01;
    offset = static_cast<double>(shortened.value) / static_cast<double>(shortened.scale) * ratio;
  } else if (in.time_type == controls::kSecond) {
    offset = in.seconds;
  }
  const double in_point = static_cast<double>(in.in_point.value) / static_cast<double>(in.in_point.scale);
  return A_Time{Trunc32((in_point + offset) * static_cast<double>(in.time_scale) + 0.5), in.time_scale};
}

}  // namespace hostsim::validate
