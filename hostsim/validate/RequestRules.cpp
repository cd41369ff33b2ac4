#include "RequestRules.h"

#include <cmath>
#include <limits>

namespace hostsim::validate {

A_long Trunc32(double value) {
  if (std::isnan(value)) return 0;
  if (value >= 2147483647.0) return std::numeric_limits<A_long>::max();
  if (value <= -2147483648.0) return std::numeric_limits<A_long>::min();
  return static_cast<A_long>(std::trunc(value));
}

namespace {

bool IsEmpty(const PF_LRect& r) { return r.left >= r.right || r.top >= r.bottom; }

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

}  // namespace hostsim::validate
