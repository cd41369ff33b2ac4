// Which source pixels make one output pixel of the scaling copy along one
// axis, and with what weights. The reference copy and the fast one both ask
// here, so they filter with the same taps by construction.
#pragma once

#include <cstdint>
#include <vector>

#include "A_Types.h"

namespace hostsim {

// One source pixel's share in an output pixel along one axis.
struct Tap {
  A_long index;
  double weight;
};

// The taps of output pixel `i` (counted from the destination rectangle's
// start) when the source span [src_lo, src_lo + src_len) maps onto dst_len
// output pixels. Only pixels inside the source world [0, world_len) are
// listed; the rest are transparent black and count only in `total`, the sum
// of all weights including theirs. Enlarging (or equal size) is bilinear
// between the two nearest pixel centres, clamped to the source span so its
// edges extend; shrinking weighs each source pixel by how much of it the
// output pixel's footprint covers.
void AxisTaps(std::int64_t src_lo, std::int64_t src_len, std::int64_t dst_len, std::int64_t i, A_long world_len,
              std::vector<Tap>& taps, double& total);

}  // namespace hostsim
