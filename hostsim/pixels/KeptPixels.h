// What the substitute host keeps between frames to save work: the idle
// worlds of the shared WorldPool and the frames sources keep (DrawnFrames).
// A command with a memory budget gives them what the budget leaves once the
// worlds of one frame are counted, so that the frame's worlds and all that
// is kept together stay within the budget.
#pragma once

#include <cstdint>

namespace hostsim {

// Half of `bytes` to each, and never more to the pool than its own default.
// Set before anything is drawn.
void KeepPixelsWithin(std::uint64_t bytes);

}  // namespace hostsim
