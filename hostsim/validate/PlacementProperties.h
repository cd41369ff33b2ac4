// What a user sees of each "Mode", checked on the two rectangles of the
// copy rather than by working the rectangles out a second time: a second
// copy of the effect's arithmetic would agree with the effect's mistakes.
//
// Every rectangle is in whole pixels, so an edge the rule puts between two
// pixels lands on one of them. The checks allow exactly that:
// - a centre (in "Center", "Whole", "No Margin") may lie half a pixel from
//   the middle it should sit on, as both edges round the same way;
// - "Center"'s window is the output's size, or one pixel less on an odd
//   side, which has no whole half;
// - the side of a fitted rectangle that touches no edge ("Whole",
//   "No Margin") may be up to one pixel from its exact length, as each of its
//   two edges rounds to the nearest pixel.
// Everything else (touching edges, staying inside, the whole frame or the
// whole output) is exact.
#pragma once

#include <string>
#include <vector>

#include "A_Types.h"
#include "PF_Pixels.h"

namespace hostsim::validate {

// A "Mode" value and the sizes it placed a layer frame of lw x lh into an
// output of ow x oh with.
struct PlacementCase {
  A_long mode = 0;
  A_long lw = 0, lh = 0;
  A_long ow = 0, oh = 0;
};

// The properties of the case's mode that the copy's source `src` (in the
// frame) and destination `dst` (in the output) break, one sentence each;
// empty when the placement is right.
// - "Center": the destination is the whole output; the source is a window of
//   the output's size centred on the frame.
// - "Whole": the source is the whole frame; the destination lies inside the
//   output, keeps the frame's aspect ratio, touches two opposite edges of
//   the output and is centred.
// - "No Margin": the destination is the whole output; the source lies inside
//   the frame, keeps the output's aspect ratio, touches two opposite edges of
//   the frame and is centred.
// - "Fit to Layer", any other value, and a frame of the output's exact size
//   in any mode: the whole frame to the whole output.
// An output with no pixels shows nothing, so nothing is checked there.
std::vector<std::string> PlacementFaults(const PlacementCase& placed, const PF_LRect& src, const PF_LRect& dst);

}  // namespace hostsim::validate
