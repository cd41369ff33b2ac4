// The modelled composition the substitute host renders: what a scene file
// describes and what the host's layer, composition and stream functions answer from.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "A_Types.h"

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

// The effect's parameter values on the layer that carries it.
struct EffectSettings {
  A_long on_layer = 0;     // id of the layer the effect is applied to
  A_long mode = 2;         // "Mode" popup value, raw (may lie outside 1..4)
  A_long layer = 0;        // "Layer": id of the chosen layer, 0 for none
  A_long time_type = 1;    // "Time Type" popup value, raw
  double time_percent = 0; // "Time(%)" in percent (0..100), held as 16.16 by the host
  double time_sec = 0;     // "Time(sec)"
};

}  // namespace hostsim
