// The scaled half of the host's copy, written for speed: tap tables built once
// per copy, four output columns a vector, each tap's four source pixels
// loaded straight from the source rows and turned into one vector per
// channel, and output rows that read the same few source rows taken
// together. It repeats the reference's arithmetic operation for operation,
// so its pixels are identical, not merely close.
#pragma once

#include <cstdint>

#include "PF_Pixels.h"

namespace hostsim {

// Where a scaled copy reads and writes, already checked: the source and
// destination rectangles as 64-bit origin and length per axis (lengths > 0),
// and the part of the destination rectangle inside the destination world.
struct ScaledCopyGeometry {
  std::int64_t src_x, src_w, src_y, src_h;
  std::int64_t dst_x, dst_w, dst_y, dst_h;
  std::int64_t out_x, out_w, out_y, out_h;
};

// The instruction sets the copy's loops are compiled for. Both give the same
// pixels; the copy takes the wider where the processor has it and the build
// compiles it, and tests run each. Windows builds keep to the baseline:
// MinGW's GCC does not align the stack for spilled AVX registers.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && !defined(_WIN32)
#define TOVANE_COPY_HAS_AVX2 1
#endif
enum class InstructionSet {
  kBaseline,  // SSE2 on x86-64, which every such processor has
  kAvx2,
};

// Whether ScaledCopyFast runs the loops compiled for set on this processor,
// rather than falling back to narrower ones.
bool ScaledCopyFastRuns(InstructionSet set);

// Writes the destination pixels of a copy whose rectangles differ in size.
// src and dst must be usable worlds of one depth that do not share memory.
// Returns false, writing nothing, for a case it leaves to the caller's own
// path (a source world without pixels).
bool ScaledCopyFast(const PF_EffectWorld& src, PF_EffectWorld& dst, const ScaledCopyGeometry& g,
                    InstructionSet widest = InstructionSet::kAvx2);

}  // namespace hostsim
