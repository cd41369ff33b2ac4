#include "Smart_Utils.h"

namespace {

inline bool HasNoArea(const PF_LRect* rect) { return rect->left >= rect->right || rect->top >= rect->bottom; }

}  // namespace

void UnionLRect(const PF_LRect* src, PF_LRect* dst) {
  if (HasNoArea(dst)) {
    *dst = *src;
  } else if (!HasNoArea(src)) {
    dst->left = src->left < dst->left ? src->left : dst->left;
    dst->top = src->top < dst->top ? src->top : dst->top;
    dst->right = src->right > dst->right ? src->right : dst->right;
    dst->bottom = src->bottom > dst->bottom ? src->bottom : dst->bottom;
  }
}

#if !defined(_WIN32)
A_Boolean IsEmptyRect(const PF_LRect* rect) { return HasNoArea(rect); }

A_Boolean IsEdgePixel(const PF_LRect* rect, A_long x, A_long y) {
  if (x == rect->left || x == rect->right) {
    return rect->top <= y && y <= rect->bottom;
  }
  if (y == rect->top || y == rect->bottom) {
    return rect->left <= x && x <= rect->right;
  }
  return false;
}
#endif
