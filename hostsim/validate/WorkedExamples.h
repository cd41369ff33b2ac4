// Worked examples of the rendering rules, each with the one right answer:
// where each "Mode" puts frames of common sizes on a 1920 x 1080 output
// (and on odd sizes, where the integer halves lose a pixel), and which
// composition time each timing shows. The property checks
// (PlacementProperties, SourceTimeRule) allow the rounding of whole pixels
// and ticks; these pin down how the rounding falls.
#pragma once

#include <vector>

#include "A_Types.h"
#include "PF_Pixels.h"
#include "PlacementProperties.h"

namespace hostsim::validate {

struct PlacementExample {
  PlacementCase placed;
  PF_LRect src;
  PF_LRect dst;
};
const std::vector<PlacementExample>& PlacementExamples();

// A chosen layer with its in-point and duration, the composition's frame
// rate and time scale, the controls, and the composition time to show.
struct SourceTimeExample {
  const char* what;
  A_Time in_point;
  A_Time duration;
  double frame_rate;
  A_u_long time_scale;
  A_long time_type;
  double percent;  // "Time(%)" as shown
  double seconds;  // "Time(sec)"
  A_long comp_time;  // in ticks of time_scale
};
const std::vector<SourceTimeExample>& SourceTimeExamples();

}  // namespace hostsim::validate
