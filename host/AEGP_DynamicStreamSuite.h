// "AEGP Dynamic Stream Suite" version 5.
#pragma once

#include "AEGP_Types.h"

#define kAEGPDynamicStreamSuite "AEGP Dynamic Stream Suite"
#define kAEGPDynamicStreamSuiteVersion5 5

typedef struct {
  void* reserved_0_to_5[6];
  // Sets (set = 1) or clears a flag of a stream; undoable 0 keeps it out of the undo history.
  A_Err (*AEGP_SetDynamicStreamFlag)(AEGP_StreamRefH streamH, AEGP_DynStreamFlags one_flag,
                                     A_Boolean undoable, A_Boolean set);
} AEGP_DynamicStreamSuite5;

// Positions in the function table are part of the host's interface.
#include <cstddef>
static_assert(offsetof(AEGP_DynamicStreamSuite5, AEGP_SetDynamicStreamFlag) == 6 * sizeof(void*), "function table position");
