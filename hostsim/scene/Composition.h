// The modelled composition the substitute host renders: what a scene file
// describes and what the host's layer, composition and stream functions answer from.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "A_Types.h"
#include "Keyframes.h"

namespace hostsim {

class PixelSource;

// One layer of the composition. All times are composition time.
struct LayerModel {
  A_long id = 0;
  std::string name;
  A_long width = 0;
  A_long height = 0;
  A_Time start{0, 1};     // where the layer's own time 0 sits in the composition
  A_Time in_point{0, 1};  // first composition time at which the layer is shown
  A_Time duration{0, 1};  // how long it is shown from its in-point
  double frame_rate = 30.0;  // the layer's own frame rate (its source's frames per second)
  std::shared_ptr<const PixelSource> source;  // null: the layer has no pixels
};

struct CompositionModel {
  A_long width = 1920;
  A_long height = 1080;
  double frame_rate = 30.0;
  A_u_long time_scale = 30;
  std::vector<LayerModel> layers;
};

// The effect's settings on the layer that carries it: which layer that is,
// and values for the effect's controls by the names the effect declares
// them with. The host knows the controls only from what the module
// declared; a control the settings leave out has its declared default.
struct EffectSettings {
  A_long on_layer = 0;  // id of the layer the effect is applied to
  // A popup's entry number, a slider's value as shown (a percentage in
  // percent), a layer control's layer id (0 for none), each constant or
  // keyed over composition time. A scene file holds them to what the effect
  // declared it accepts; a test may set any value, to see what the effect
  // does with one a damaged project could hold.
  std::map<std::string, AnimatedValue> controls;
};

}  // namespace hostsim
