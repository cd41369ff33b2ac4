// Rounding a channel value to an integer the way the reference copy does
// with std::lround (to nearest, halves away from zero), without calling the
// library: turning frames into integer pixels and PNG rows rounds every
// channel of every pixel, and the call was the largest single cost of a
// render.
#pragma once

namespace hostsim {

// For 0 < v < 2^31 only; callers clamp first. v - trunc(v) is exact in that
// range, so comparing it with 0.5 decides exactly as lround does.
inline int RoundPositive(double v) {
  const int truncated = static_cast<int>(v);
  return truncated + (v - static_cast<double>(truncated) >= 0.5 ? 1 : 0);
}

}  // namespace hostsim
