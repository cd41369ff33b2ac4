// Scene files: a modelled composition, the effect's settings and what to
// render, as JSON. The parser names the offending field in every error so a
// person can fix the file without reading code.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "A_Types.h"
#include "Composition.h"
#include "EffectControls.h"
#include "MemoryBudget.h"
#include "PF_Pixels.h"
#include "PixelWorld.h"

namespace hostsim {

// A field is missing, has the wrong type or an impossible value. what() starts
// with the field's path, e.g. "layers[1].width: expected a positive integer".
class SceneError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct RenderSettings {
  std::vector<A_Time> times;  // composition times, one output image each
  BitDepth depth = BitDepth::k8;
  PF_RationalScale downsample_x{1, 1};
  PF_RationalScale downsample_y{1, 1};
};

struct Scene {
  CompositionModel composition;
  EffectSettings effect;
  RenderSettings render;
};

// Parses scene JSON. Times are seconds as a number (stored at the
// composition's time scale, rounded to the nearest tick) or an exact
// {"value": v, "scale": s}. The "effect" keys become values of the controls
// named in EffectControls.h, each a constant or keyframes
// [{"time": t, "value": v, "hold": true}], within the range the effect
// accepts; a popup takes an entry's text or number. "render.times" lists
// times or gives {"from": t, "count": n} frames. Relative PNG paths
// are taken from `base_dir`; a PNG whose pixels would take more than
// `budget` is refused when it is read. Throws SceneError.
Scene ParseScene(const std::string& json_text, const std::string& base_dir = ".", const MemoryBudget& budget = {});

// A scene is a few kilobytes of text; a larger file is not meant as one.
constexpr std::uintmax_t kMaxSceneFileBytes = 16u << 20;
// Nor does one nest more than a few levels; deeper text is refused unparsed.
constexpr std::size_t kMaxSceneDepth = 64;

// Reads and parses a file; relative PNG paths are taken from the file's
// directory. Throws SceneError (also for an unreadable file, one that is no
// regular file or one larger than kMaxSceneFileBytes).
Scene LoadSceneFile(const std::string& path, const MemoryBudget& budget = {});

// The entry text of a "Mode" or "Time Type" value, or its number for values
// outside the control ("7").
std::string ModeName(A_long mode);
std::string TimeTypeName(A_long time_type);

// Refuses a scene that sets a control the module did not declare (given as
// Host::UndeclaredControls() after params setup), naming the scene's key and
// the control. Throws SceneError.
void RefuseUndeclaredControls(const std::vector<std::string>& undeclared);

}  // namespace hostsim
