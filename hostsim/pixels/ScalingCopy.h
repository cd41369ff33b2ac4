// The host's copy callback: copies a rectangle of one world into a rectangle
// of another, resampling when their sizes differ.
#pragma once

#include "PF_Errors.h"
#include "PF_Pixels.h"

namespace hostsim {

// Copies src_r of src into dst_r of dst. A null rectangle stands for the
// whole world. Behaviour the effect's placement modes rely on:
// - Equal rectangle sizes copy pixels exactly, at every depth.
// - Otherwise each axis is resampled on its own: enlarging with bilinear
//   filtering whose taps stay inside src_r (edges are extended, not faded),
//   shrinking by area averaging over each output pixel's footprint. Colour is
//   filtered weighted by alpha, so transparent pixels do not darken edges.
// - The source is transparent black outside the source world, so src_r may
//   reach past its edges ("Center" with a layer smaller than the output).
// - Only pixels inside both dst_r and the destination world are written;
//   everything else in dst stays as it was.
// - An empty or inverted rectangle copies nothing and succeeds.
// - src and dst may be the same world, with overlapping rectangles.
// Returns PF_Err_BAD_CALLBACK_PARAM when the worlds differ in depth or a
// world record is unusable (negative size, null data with pixels, row bytes
// smaller than a row); dst is then untouched. Rectangle coordinates may lie
// anywhere in the 32-bit range.
PF_Err ScalingCopy(const PF_EffectWorld& src, PF_EffectWorld& dst, const PF_LRect* src_r,
                   const PF_LRect* dst_r);

// The same copy computed the plain way, one output pixel at a time with no
// shortcuts. ScalingCopy must produce identical pixels; tests compare them.
PF_Err ScalingCopyReference(const PF_EffectWorld& src, PF_EffectWorld& dst, const PF_LRect* src_r,
                            const PF_LRect* dst_r);

}  // namespace hostsim
