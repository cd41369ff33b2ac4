// "AEGP Stream Suite" version 9.
#pragma once

#include "AEGP_Types.h"
#include "PF_Params.h"

#define kAEGPStreamSuite "AEGP Stream Suite"
#define kAEGPStreamSuiteVersion9 9

typedef struct {
  void* reserved_0_to_4[5];
  // A new reference to one parameter stream of an effect; the caller disposes of it.
  A_Err (*AEGP_GetNewEffectStreamByIndex)(AEGP_PluginID plugin_id, AEGP_EffectRefH effectH,
                                          PF_ParamIndex param_index, AEGP_StreamRefH* streamPH);
  void* reserved_6;
  A_Err (*AEGP_DisposeStream)(AEGP_StreamRefH streamH);
  void* reserved_8_to_12[5];
  // The stream's value at a time; the caller disposes of the value.
  A_Err (*AEGP_GetNewStreamValue)(AEGP_PluginID plugin_id, AEGP_StreamRefH streamH,
                                  AEGP_LTimeMode time_mode, const A_Time* timePT,
                                  A_Boolean pre_expression, AEGP_StreamValue2* valueP);
  A_Err (*AEGP_DisposeStreamValue)(AEGP_StreamValue2* valueP);
} AEGP_StreamSuite9;

// Positions in the function table are part of the host's interface.
#include <cstddef>
static_assert(offsetof(AEGP_StreamSuite9, AEGP_GetNewEffectStreamByIndex) == 5 * sizeof(void*), "function table position");
static_assert(offsetof(AEGP_StreamSuite9, AEGP_DisposeStream) == 7 * sizeof(void*), "function table position");
static_assert(offsetof(AEGP_StreamSuite9, AEGP_GetNewStreamValue) == 13 * sizeof(void*), "function table position");
static_assert(offsetof(AEGP_StreamSuite9, AEGP_DisposeStreamValue) == 14 * sizeof(void*), "function table position");
