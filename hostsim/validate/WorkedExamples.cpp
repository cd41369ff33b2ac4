#include "WorkedExamples.h"

#include "EffectControls.h"

namespace hostsim::validate {

namespace {

using controls::kCenter;
using controls::kFitToLayer;
using controls::kNoMargin;
using controls::kPercent;
using controls::kSecond;
using controls::kWhole;

constexpr PF_LRect kFullHd{0, 0, 1920, 1080};

PlacementExample OnFullHd(A_long mode, A_long lw, A_long lh, PF_LRect src, PF_LRect dst) {
  return PlacementExample{PlacementCase{mode, lw, lh, 1920, 1080}, src, dst};
}

}  // namespace

const std::vector<PlacementExample>& PlacementExamples() {
  static const std::vector<PlacementExample> examples = {
      OnFullHd(kCenter, 1280, 720, {-320, -180, 1600, 900}, kFullHd),
      // Equal ratios: the frame is scaled up to the whole output.
      OnFullHd(kWhole, 1280, 720, {0, 0, 1280, 720}, kFullHd),
      OnFullHd(kNoMargin, 1280, 720, {0, 0, 1280, 720}, kFullHd),
      OnFullHd(kCenter, 720, 1280, {-600, 100, 1320, 1180}, kFullHd),
      OnFullHd(kWhole, 720, 1280, {0, 0, 720, 1280}, {656, 0, 1264, 1080}),
      OnFullHd(kNoMargin, 720, 1280, {0, 438, 720, 843}, kFullHd),
      OnFullHd(kWhole, 1920, 480, {0, 0, 1920, 480}, {0, 300, 1920, 780}),
      OnFullHd(kNoMargin, 1920, 480, {533, 0, 1387, 480}, kFullHd),
      OnFullHd(kWhole, 1000, 1000, {0, 0, 1000, 1000}, {420, 0, 1500, 1080}),
      OnFullHd(kNoMargin, 1000, 1000, {0, 219, 1000, 781}, kFullHd),
      OnFullHd(kCenter, 3840, 2160, {960, 540, 2880, 1620}, kFullHd),
      OnFullHd(kFitToLayer, 720, 1280, {0, 0, 720, 1280}, kFullHd),
      OnFullHd(kFitToLayer, 1920, 480, {0, 0, 1920, 480}, kFullHd),
      OnFullHd(7, 720, 1280, {0, 0, 720, 1280}, kFullHd),  // outside the list: stretched
      // A frame of the output's size is copied whole, whatever the mode.
      OnFullHd(kCenter, 1920, 1080, kFullHd, kFullHd),
      OnFullHd(kWhole, 1920, 1080, kFullHd, kFullHd),
      OnFullHd(kNoMargin, 1920, 1080, kFullHd, kFullHd),
      // Odd sizes have no whole half: the window is a pixel short and the copy scales slightly.
      {{kCenter, 1280, 720, 1921, 1081}, {-320, -180, 1600, 900}, {0, 0, 1921, 1081}},
      {{kCenter, 1921, 1081, 1920, 1080}, {0, 0, 1920, 1080}, kFullHd},
  };
  return examples;
}

const std::vector<SourceTimeExample>& SourceTimeExamples() {
  // A layer from 2 s for 10 s in a 30 fps composition: 10 s less one frame
  // is 299 frames, so 100 % is its last frame, 11.9667 s.
  static const std::vector<SourceTimeExample> examples = {
      {"50 %", {60, 30}, {300, 30}, 30.0, 30, kPercent, 50, 0, 210},
      {"100 %, the last frame", {60, 30}, {300, 30}, 30.0, 30, kPercent, 100, 0, 359},
      {"0 %, the in-point", {60, 30}, {300, 30}, 30.0, 30, kPercent, 0, 0, 60},
      {"1.5 s", {60, 30}, {300, 30}, 30.0, 30, kSecond, 0, 1.5, 105},
      {"a Time Type outside the list, the in-point", {60, 30}, {300, 30}, 30.0, 30, 3, 50, 1.5, 60},
      {"100 % of a layer one frame long, the in-point", {60, 30}, {1, 30}, 30.0, 30, kPercent, 100, 0, 60},
      // Before 0 the half tick added and the fraction dropped toward 0 land
      // one tick after the in-point (-59.5 gives -59), not on the nearest tick.
      {"0 % of a layer from -2 s", {-60, 30}, {300, 30}, 30.0, 30, kPercent, 0, 0, -59},
      // At 29.97 fps one frame is 1001 ticks of 30000.
      {"100 % at 29.97 fps", {0, 30000}, {300300, 30000}, 29.97, 30000, kPercent, 100, 0, 299299},
  };
  return examples;
}

}  // namespace hostsim::validate
