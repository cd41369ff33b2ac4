// The effect's controls by name, and how a scene file sets them. The
// substitute host knows the effect only by what the module declares; this
// is the one place outside the module that names the effect's controls,
// their order and types, and their entries, for the scene file reader, the
// validator's own statement of what the effect declares and how it renders,
// the demo contact sheet and the tests. When the effect gains a control,
// its row in kSceneControls is what changes here.
#pragma once

#include <cstddef>

#include "A_Types.h"
#include "PF_Params.h"

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

// One control. Its type also says how a scene file writes its value: a
// popup as an entry's text (any case) or its number; a layer as a layer id,
// or 0 for none; a slider as a number within the range the effect accepts
// (a fixed slider's the host holds in 16.16 fixed point). Sliders move
// between keyframes; popups and layer choices hold.
struct SceneControl {
  const char* key;      // in the scene file's "effect" object
  const char* control;  // the name the module declares the control with
  PF_ParamType type;    // the type it declares
  const char* const* entries;  // a popup's entries, else null
  std::size_t entry_count;
  // The values the effect accepts: a slider's declared valid_min and
  // valid_max (the validator checks the declaration against them), a popup's
  // entry numbers; unused for a layer, which takes the scene's layer ids.
  double accepted_min;
  double accepted_max;
};

// In the order the module declares them, from parameter 1; parameter 0 is
// the input layer every effect has.
inline constexpr SceneControl kSceneControls[] = {
    // key, declared name, declared type, entries, entry count, accepted min and max
    {"mode", kMode, PF_Param_POPUP, kModeEntries, 4, 1, 4},
    {"layer", kLayer, PF_Param_LAYER, nullptr, 0, 0, 0},
    {"time_type", kTimeType, PF_Param_POPUP, kTimeTypeEntries, 2, 1, 2},
    {"time_percent", kTimePercent, PF_Param_FIX_SLIDER, nullptr, 0, 0, 100},
    {"time_sec", kTimeSec, PF_Param_FLOAT_SLIDER, nullptr, 0, 0, 1000000},
};

}  // namespace hostsim::controls
