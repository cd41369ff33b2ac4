// "AEGP PF Interface Suite" version 1: from an effect's call to its AEGP objects.
#pragma once

#include "AEGP_Types.h"
#include "PF_Callbacks.h"

#define kAEGPPFInterfaceSuite "AEGP PF Interface Suite"
#define kAEGPPFInterfaceSuiteVersion1 1

typedef struct {
  // The layer the effect is applied to; owned by the host.
  A_Err (*AEGP_GetEffectLayer)(PF_ProgPtr effect_ref, AEGP_LayerH* layerPH);
  // A new reference to the calling effect; the caller disposes of it.
  A_Err (*AEGP_GetNewEffectForEffect)(AEGP_PluginID plugin_id, PF_ProgPtr effect_ref,
                                      AEGP_EffectRefH* effectPH);
} AEGP_PFInterfaceSuite1;

// Positions in the function table are part of the host's interface.
#include <cstddef>
static_assert(offsetof(AEGP_PFInterfaceSuite1, AEGP_GetEffectLayer) == 0 * sizeof(void*), "function table position");
static_assert(offsetof(AEGP_PFInterfaceSuite1, AEGP_GetNewEffectForEffect) == 1 * sizeof(void*), "function table position");
