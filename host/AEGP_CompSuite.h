// "AEGP Comp Suite" version 15.
#pragma once

#include "AEGP_Types.h"

#define kAEGPCompSuite "AEGP Comp Suite"
#define kAEGPCompSuiteVersion15 15

typedef struct {
  void* reserved_0_to_6[7];
  A_Err (*AEGP_GetCompFramerate)(AEGP_CompH compH, A_FpLong* fpsPF);
} AEGP_CompSuite15;

// Positions in the function table are part of the host's interface.
#include <cstddef>
static_assert(offsetof(AEGP_CompSuite15, AEGP_GetCompFramerate) == 7 * sizeof(void*), "function table position");
