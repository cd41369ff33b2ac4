// "AEGP Layer Suite" version 13. Layer and composition handles are the
// host's; nothing here is disposed of by the caller.
#pragma once

#include "AEGP_Types.h"

#define kAEGPLayerSuite "AEGP Layer Suite"
#define kAEGPLayerSuiteVersion13 13

typedef struct {
  void* reserved_0_to_5[6];
  A_Err (*AEGP_GetLayerParentComp)(AEGP_LayerH layerH, AEGP_CompH* compPH);
  void* reserved_7_to_14[8];
  A_Err (*AEGP_GetLayerInPoint)(AEGP_LayerH layerH, AEGP_LTimeMode time_mode, A_Time* in_pointPT);
  A_Err (*AEGP_GetLayerDuration)(AEGP_LayerH layerH, AEGP_LTimeMode time_mode, A_Time* durationPT);
  void* reserved_17_to_33[17];
  // Composition time to the time of the given layer.
  A_Err (*AEGP_ConvertCompToLayerTime)(AEGP_LayerH layerH, const A_Time* comp_timeP, A_Time* layer_timeP);
  void* reserved_35_to_44[10];
  A_Err (*AEGP_GetLayerFromLayerID)(AEGP_CompH parent_compH, AEGP_LayerIDVal id, AEGP_LayerH* layerPH);
} AEGP_LayerSuite13;

// Positions in the function table are part of the host's interface.
#include <cstddef>
static_assert(offsetof(AEGP_LayerSuite13, AEGP_GetLayerParentComp) == 6 * sizeof(void*), "function table position");
static_assert(offsetof(AEGP_LayerSuite13, AEGP_GetLayerInPoint) == 15 * sizeof(void*), "function table position");
static_assert(offsetof(AEGP_LayerSuite13, AEGP_GetLayerDuration) == 16 * sizeof(void*), "function table position");
static_assert(offsetof(AEGP_LayerSuite13, AEGP_ConvertCompToLayerTime) == 34 * sizeof(void*), "function table position");
static_assert(offsetof(AEGP_LayerSuite13, AEGP_GetLayerFromLayerID) == 45 * sizeof(void*), "function table position");
