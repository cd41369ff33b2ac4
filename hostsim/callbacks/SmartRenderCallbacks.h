// The callback records of the smart pre-render and render passes.
#pragma once

#include "AE_Host.h"

namespace hostsim {

PF_PreRenderCallbacks PreRenderCallbacks();
PF_SmartRenderCallbacks SmartRenderCallbacks();

}  // namespace hostsim
