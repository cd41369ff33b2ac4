// "AEGP Effect Suite" version 2.
#pragma once

#include "AEGP_Types.h"

#define kAEGPEffectSuite "AEGP Effect Suite"
#define kAEGPEffectSuiteVersion2 2

typedef struct {
  void* reserved_0_to_7[8];
  // Releases a reference from AEGP_GetNewEffectForEffect.
  A_Err (*AEGP_DisposeEffect)(AEGP_EffectRefH effectH);
} AEGP_EffectSuite2;

// Positions in the function table are part of the host's interface.
#include <cstddef>
static_assert(offsetof(AEGP_EffectSuite2, AEGP_DisposeEffect) == 8 * sizeof(void*), "function table position");
