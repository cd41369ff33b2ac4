// The effect's rendering rules written out a second time, independently of
// the effect, so the validator can tell whether a rectangle or a time the
// effect handed to the host is the one the rules give. Kept deliberately
// plain: straight from the rules' wording, no shared code with the effect.
#pragma once

#include "A_Types.h"
#include "PF_Pixels.h"
#include "EffectControls.h"

namespace hostsim::validate {

// Truncation toward zero into a 32-bit integer. Values beyond the range
// saturate and NaN gives 0: the only defined reading of "truncate to 32 bits"
// for every input, and the one a sound effect must follow.
A_long Trunc32(double value);

// One side of the input the pre-render pass asks for: the full-resolution
// side times num / den, plus one half, truncated.
A_long RequestedSide(A_long full_side, const PF_RationalScale& factor);

// The union rule of the pre-render pass: an empty destination takes the
// source whatever it holds; an empty source leaves the destination; else the
// bounding box.
void UnionInto(const PF_LRect& source, PF_LRect* destination);

struct Placement {
  PF_LRect src;
  PF_LRect dst;
};

// Where a layer frame of lw x lh goes in an output of ow x oh for a "Mode"
// value (any value outside 1..3 stretches; equal sizes always stretch).
Placement PlaceByMode(A_long mode, A_long lw, A_long lh, A_long ow, A_long oh);

// The composition time of the frame to show, at `time_scale`: the chosen
// layer's in-point plus the offset that "Time Type" selects, from the layer's
// duration less one composition frame.
struct SourceTimeInputs {
  A_Time in_point{0, 1};   // composition time
  A_Time duration{0, 1};   // composition time, not yet shortened
  double frame_rate = 30;  // of the composition
  A_long time_type = 1;    // raw "Time Type" value
  A_long percent_fixed = 0;  // "Time(%)" as the host's 16.16 value
  double seconds = 0;        // "Time(sec)"
  A_u_long time_scale = 30;  // of the command
};
A_Time ShortenedDuration(const A_Time& duration, double frame_rate);
A_Time SourceCompTime(const SourceTimeInputs& inputs);

}  // namespace hostsim::validate
