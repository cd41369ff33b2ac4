// The callback records the host places in PF_InData.
#pragma once

#include "AE_Host.h"

namespace hostsim {

PF_InteractCallbacks InteractCallbacks();
PF_UtilCallbacks UtilCallbacks();

}  // namespace hostsim
