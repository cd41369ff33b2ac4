// The callbacks the host hands the module in its records rather than
// through suites: PF_InData's parameter and utility callbacks (Callbacks.cpp)
// and those of the two smart-render passes (SmartRenderCallbacks.h).
#pragma once

#include "AE_Host.h"

namespace hostsim {

PF_InteractCallbacks InteractCallbacks();
PF_UtilCallbacks UtilCallbacks();

}  // namespace hostsim
