// The composition time of the frame the effect shows, as a user reads the
// controls: the chosen layer's in-point plus "Time(sec)" seconds, or plus
// "Time(%)" of the layer's duration less its last frame (so that 100 % is
// the last frame, not the instant after it), or the in-point for a
// "Time Type" outside the list. Nothing is clamped to the layer's extent.
//
// The effect answers in whole ticks of the command's time scale. The check
// allows the tick nearest the exact time, and for a time before 0 also the
// next tick toward 0 (half a tick is added, then the fraction dropped
// toward 0); a time beyond the 32-bit range saturates. One frame of the
// composition is counted in whole ticks of the duration's own scale, as the
// host's times can only hold whole ticks.
#pragma once

#include <string>

#include "A_Types.h"

namespace hostsim::validate {

struct SourceTimeInputs {
  A_Time in_point{0, 1};     // of the chosen layer, composition time
  A_Time duration{0, 1};     // of the chosen layer, composition time, as the host gives it
  double frame_rate = 30;    // of the composition
  A_long time_type = 1;      // raw "Time Type" value
  A_long percent_fixed = 0;  // "Time(%)" as the host hands it, 16.16
  double seconds = 0;        // "Time(sec)"
  A_u_long time_scale = 30;  // of the command
};

// The ticks of `time_scale` a right answer may hold, low to high.
struct TickRange {
  A_long low = 0;
  A_long high = 0;
};
TickRange SourceTimeTicks(const SourceTimeInputs& inputs);

// Empty when `asked` (the composition time the effect asked for) is right;
// else a sentence saying what was expected.
std::string SourceTimeFault(const SourceTimeInputs& inputs, const A_Time& asked);

}  // namespace hostsim::validate
