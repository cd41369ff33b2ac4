// The effect's controls by name, and how a scene file sets them. The
// substitute host knows the effect only by what the module declares; this
// is the one place outside the module that names the effect's controls and
// their entries, for the scene file reader, the validator's own statement
// of the rendering rules, the demo contact sheet and the tests. When the
// effect gains a control, its row in kSceneControls is what changes here.
#pragma once

#include <cstddef>

#include "A_Types.h"

namespace hostsim::controls {

inline constexpr char kMode[] = "Mode";
inline constexpr char kLayer[] = "Layer";
inline constexpr char kTimeType[] = "Time Type";
inline constexpr char kTimePercent[] = "Time(%)";
inline constexpr char kTimeSec[] = "Time(sec)";

// "Mode" entries, numbered as the popup numbers them.
enum : A_long { kCenter = 1, kWhole, kNoMargin, kFitToLayer };
// "Time Type" entries.
enum : A_long { kPercent = 1, kSecond };

inline constexpr const char* kModeEntries[] = {"Center", "Whole", "No Margin", "Fit to Layer"};
inline constexpr const char* kTimeTypeEntries[] = {"Percent", "Second"};

// How a scene file writes a control's value.
enum class SceneValue {
  kPopup,    // an entry's text (any case) or any integer, so values outside the popup can be tried
  kLayerId,  // a layer id, or 0 for none
  kPercent,  // a percentage, held by the host as 16.16 fixed point
  kNumber,   // any finite number
};

struct SceneControl {
  const char* key;      // in the scene file's "effect" object
  const char* control;  // the name the module declares the control with
  SceneValue value;
  const char* const* entries;  // a popup's entries, else null
  std::size_t entry_count;
};

inline constexpr SceneControl kSceneControls[] = {
    {"mode", kMode, SceneValue::kPopup, kModeEntries, 4},
    {"layer", kLayer, SceneValue::kLayerId, nullptr, 0},
    {"time_type", kTimeType, SceneValue::kPopup, kTimeTypeEntries, 2},
    {"time_percent", kTimePercent, SceneValue::kPercent, nullptr, 0},
    {"time_sec", kTimeSec, SceneValue::kNumber, nullptr, 0},
};

}  // namespace hostsim::controls
