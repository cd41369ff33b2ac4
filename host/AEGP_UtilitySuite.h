// "AEGP Utility Suite" version 7.
#pragma once

#include "AEGP_Types.h"

#define kAEGPUtilitySuite "AEGP Utility Suite"
#define kAEGPUtilitySuiteVersion7 7

typedef struct {
  void* reserved_0_to_6[7];
  // Registers the effect with the AEGP layer and writes its plug-in id.
  A_Err (*AEGP_RegisterWithAEGP)(AEGP_GlobalRefcon global_refcon, const A_char* plugin_name,
                                 AEGP_PluginID* plugin_id);
} AEGP_UtilitySuite7;

// Positions in the function table are part of the host's interface.
#include <cstddef>
static_assert(offsetof(AEGP_UtilitySuite7, AEGP_RegisterWithAEGP) == 7 * sizeof(void*), "function table position");
