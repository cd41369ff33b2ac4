// Rectangle helpers for the smart-render passes. The Windows module carries
// only UnionLRect; the macOS bundle (and the Linux module that mirrors it)
// carries and exports all three.
#pragma once

#include "AE_Host.h"
#include "UtilExport.h"

// C linkage: the bundle exports these under their plain names.
extern "C" {

// Grows *dst to the bounding box of *src and *dst. An empty destination is
// replaced by the source whatever it holds; an empty source leaves a
// non-empty destination alone.
TOVANE_UTIL_API void UnionLRect(const PF_LRect* src, PF_LRect* dst);

#if !defined(_WIN32)
// True when the rectangle has no area: left >= right or top >= bottom.
TOVANE_UTIL_API A_Boolean IsEmptyRect(const PF_LRect* rect);

// True when (x, y) lies on the rectangle's border, right and bottom included.
// The vertical edges are tested first, which decides for reversed rectangles.
TOVANE_UTIL_API A_Boolean IsEdgePixel(const PF_LRect* rect, A_long x, A_long y);
#endif

}  // extern "C"
