// The pre-render pass's plain rules, for telling whether the input the
// effect asked for and the extent it reported are the ones a host expects:
// the whole input at the downsampled size, and the union of what it got.
#pragma once

#include "A_Types.h"
#include "PF_Pixels.h"

namespace hostsim::validate {

// Truncation toward zero into a 32-bit integer. Values beyond the range
// saturate and NaN gives 0: the only defined reading of "truncate to 32 bits"
// for every input, and the one a sound effect must follow.
A_long Trunc32(double value);

// One side of the input the pre-render pass asks for: the full-resolution
// side times num / den, plus one half, truncated.
A_long RequestedSide(A_long full_side, const PF_RationalScale& factor);

// The union rule of the pre-render pass: an empty destination takes the
// source whatever it holds; an empty source leaves the destination; else the
// bounding box.
void UnionInto(const PF_LRect& source, PF_LRect* destination);

}  // namespace hostsim::validate
