// A module that takes the host down in its first command, for the
// validator's isolation: built with TOVANE_BROKEN_HANG it never returns from
// global setup, otherwise it writes through a null pointer there. Loading it
// is harmless, so the run reaches the checks.
#include <chrono>
#include <thread>

#include "PF_EntryPoint.h"

extern "C" PF_Err EntryPointFunc(PF_Cmd cmd, PF_InData*, PF_OutData*, PF_ParamDef*[], PF_LayerDef*,
                                 void*) {
  if (cmd == PF_Cmd_GLOBAL_SETUP) {
#if defined(TOVANE_BROKEN_HANG)
    for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
#else
    volatile int* nowhere = nullptr;
    *nowhere = 1;
#endif
  }
  return PF_Err_NONE;
}
