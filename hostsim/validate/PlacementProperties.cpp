#include "PlacementProperties.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "CheckContext.h"
#include "EffectControls.h"

namespace hostsim::validate {

namespace {

// 64 bits, so that sums of edges near the 32-bit limits cannot wrap.
std::int64_t Width(const PF_LRect& r) { return static_cast<std::int64_t>(r.right) - r.left; }
std::int64_t Height(const PF_LRect& r) { return static_cast<std::int64_t>(r.bottom) - r.top; }

bool SameRect(const PF_LRect& a, const PF_LRect& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof(text), "%.2f", value);
  return text;
}

std::string Size(std::int64_t w, std::int64_t h) { return std::to_string(w) + " x " + std::to_string(h); }

bool Inside(const PF_LRect& r, A_long w, A_long h) {
  return r.left >= 0 && r.top >= 0 && r.left <= r.right && r.top <= r.bottom && r.right <= w && r.bottom <= h;
}

// Centred on an area of w x h: twice the rectangle's centre is within one
// pixel of w and of h (the edges are whole pixels).
bool Centred(const PF_LRect& r, A_long w, A_long h) {
  return std::llabs(static_cast<std::int64_t>(r.left) + r.right - w) <= 1 &&
         std::llabs(static_cast<std::int64_t>(r.top) + r.bottom - h) <= 1;
}

bool TouchesLeftAndRight(const PF_LRect& r, A_long w) { return r.left == 0 && r.right == w; }
bool TouchesTopAndBottom(const PF_LRect& r, A_long h) { return r.top == 0 && r.bottom == h; }

// Whether `r`, which spans an area of w x h across one axis, has the aspect
// ratio aw : ah: its side across the other axis is within one pixel of the
// exact length. An area with no pixels along the spanned axis has no
// ratio to keep.
bool KeepsAspect(const PF_LRect& r, A_long w, A_long h, double aw, double ah) {
  const bool spans_width = TouchesLeftAndRight(r, w);
  const bool spans_height = TouchesTopAndBottom(r, h);
  if (aw <= 0 || ah <= 0) return true;
  if (spans_width && std::fabs(static_cast<double>(Height(r)) - static_cast<double>(w) * ah / aw) <= 1.0) return true;
  if (spans_height && std::fabs(static_cast<double>(Width(r)) - static_cast<double>(h) * aw / ah) <= 1.0) return true;
  return false;
}

// The largest rectangle of aspect aw : ah inside w x h, for the message.
std::string FittedSize(A_long w, A_long h, double aw, double ah) {
  if (static_cast<double>(w) * ah <= static_cast<double>(h) * aw) return std::to_string(w) + " x " + Number(w * ah / aw);
  return Number(h * aw / ah) + " x " + std::to_string(h);
}

void CenterFaults(const PlacementCase& c, const PF_LRect& src, const PF_LRect& dst, std::vector<std::string>& faults) {
  const PF_LRect output{0, 0, c.ow, c.oh};
  if (!SameRect(dst, output)) {
    faults.push_back("\"Center\" does not fill the whole output: destination " + RectText(dst) + ", not " +
                     RectText(output));
  }
  // An odd side has no whole half: the window may be one pixel short there.
  const auto window_side_ok = [](std::int64_t side, A_long output_side) {
    return side == output_side || (output_side % 2 != 0 && side == output_side - 1);
  };
  if (!window_side_ok(Width(src), c.ow) || !window_side_ok(Height(src), c.oh)) {
    faults.push_back("\"Center\" does not keep the frame's size: source window " + RectText(src) + " is " +
                     Size(Width(src), Height(src)) + ", not the output's " + Size(c.ow, c.oh));
  }
  if (!Centred(src, c.lw, c.lh)) {
    faults.push_back("\"Center\" does not centre the frame: source window " + RectText(src) +
                     " is not centred on the " + Size(c.lw, c.lh) + " frame");
  }
}

void WholeFaults(const PlacementCase& c, const PF_LRect& src, const PF_LRect& dst, std::vector<std::string>& faults) {
  const PF_LRect frame{0, 0, c.lw, c.lh};
  if (!SameRect(src, frame)) {
    faults.push_back("\"Whole\" does not show the whole frame: source " + RectText(src) + ", not " + RectText(frame));
  }
  if (!Inside(dst, c.ow, c.oh)) {
    faults.push_back("\"Whole\" reaches outside the output: destination " + RectText(dst) + " in a " +
                     Size(c.ow, c.oh) + " output");
    return;  // the other properties mean nothing for a rectangle outside
  }
  if (!TouchesLeftAndRight(dst, c.ow) && !TouchesTopAndBottom(dst, c.oh)) {
    faults.push_back("\"Whole\" does not touch two opposite edges of the output: destination " + RectText(dst) +
                     " in a " + Size(c.ow, c.oh) + " output");
  } else if (!KeepsAspect(dst, c.ow, c.oh, c.lw, c.lh)) {
    faults.push_back("\"Whole\" does not keep the frame's aspect ratio: destination " + RectText(dst) + " is " +
                     Size(Width(dst), Height(dst)) + ", a " + Size(c.lw, c.lh) + " frame fitted is " +
                     FittedSize(c.ow, c.oh, c.lw, c.lh));
  }
  if (!Centred(dst, c.ow, c.oh)) {
    faults.push_back("\"Whole\" does not centre the frame: destination " + RectText(dst) +
                     " is not centred on the " + Size(c.ow, c.oh) + " output");
  }
}

void NoMarginFaults(const PlacementCase& c, const PF_LRect& src, const PF_LRect& dst, std::vector<std::string>& faults) {
  const PF_LRect output{0, 0, c.ow, c.oh};
  if (!SameRect(dst, output)) {
    faults.push_back("\"No Margin\" does not cover the whole output: destination " + RectText(dst) + ", not " +
                     RectText(output));
  }
  if (!Inside(src, c.lw, c.lh)) {
    faults.push_back("\"No Margin\" reaches outside the frame: source " + RectText(src) + " in a " +
                     Size(c.lw, c.lh) + " frame");
    return;
  }
  if (!TouchesLeftAndRight(src, c.lw) && !TouchesTopAndBottom(src, c.lh)) {
    faults.push_back("\"No Margin\" cuts more than it must: source " + RectText(src) +
                     " touches no two opposite edges of the " + Size(c.lw, c.lh) + " frame");
  } else if (!KeepsAspect(src, c.lw, c.lh, c.ow, c.oh)) {
    faults.push_back("\"No Margin\" does not keep the frame's aspect ratio: source " + RectText(src) + " is " +
                     Size(Width(src), Height(src)) + ", the part of a " + Size(c.lw, c.lh) + " frame that covers a " +
                     Size(c.ow, c.oh) + " output is " + FittedSize(c.lw, c.lh, c.ow, c.oh));
  }
  if (!Centred(src, c.lw, c.lh)) {
    faults.push_back("\"No Margin\" does not centre the frame: source " + RectText(src) +
                     " is not centred on the " + Size(c.lw, c.lh) + " frame");
  }
}

}  // namespace

std::vector<std::string> PlacementFaults(const PlacementCase& c, const PF_LRect& src, const PF_LRect& dst) {
  std::vector<std::string> faults;
  // An output with no pixels shows nothing: any rectangles are right.
  if (c.ow <= 0 || c.oh <= 0) return faults;
  // A frame of the output's size has nothing to fit: it is copied whole.
  const bool same_size = c.lw == c.ow && c.lh == c.oh;
  const A_long mode = same_size ? controls::kFitToLayer : c.mode;
  if (mode == controls::kCenter) {
    CenterFaults(c, src, dst, faults);
  } else if (mode == controls::kWhole) {
    WholeFaults(c, src, dst, faults);
  } else if (mode == controls::kNoMargin) {
    NoMarginFaults(c, src, dst, faults);
  } else {
    const PF_LRect frame{0, 0, c.lw, c.lh}, output{0, 0, c.ow, c.oh};
    if (!SameRect(src, frame) || !SameRect(dst, output)) {
      const std::string which = same_size                         ? "a frame of the output's size"
                                : mode == controls::kFitToLayer ? "\"Fit to Layer\""
                                                                : "Mode " + std::to_string(mode) + " (outside the list)";
      faults.push_back(which +
                       " is not copied whole to the whole output: " + RectText(src) + " to " + RectText(dst) +
                       ", not " + RectText(frame) + " to " + RectText(output));
    }
  }
  return faults;
}

}  // namespace hostsim::validate
