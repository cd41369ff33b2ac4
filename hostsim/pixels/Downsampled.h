// A side of a world at the current resolution, as the effect computes it:
// the full size times the downsample factor, plus a half, truncated.
#pragma once

#include "A_Types.h"
#include "PF_Pixels.h"

namespace hostsim {

inline A_long Downsampled(A_long full, const PF_RationalScale& factor) {
  // Full resolution, the common case, needs no division.
  const bool full_resolution = factor.num >= 0 && static_cast<A_u_long>(factor.num) == factor.den;
  if (factor.den == 0 || (full_resolution && full >= 0)) return full;
  return static_cast<A_long>(full * (static_cast<double>(factor.num) / factor.den) + 0.5);
}

}  // namespace hostsim
