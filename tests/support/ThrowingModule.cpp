// A module whose entry point lets exceptions escape, as a broken effect
// might, for the host's handling of them: a message for global setup, an
// empty message for the about box, and something that is no std::exception
// for global setdown. Every other command succeeds.
#include <stdexcept>

#include "PF_EntryPoint.h"

extern "C" PF_Err EntryPointFunc(PF_Cmd cmd, PF_InData*, PF_OutData*, PF_ParamDef*[], PF_LayerDef*,
                                 void*) {
  switch (cmd) {
    case PF_Cmd_GLOBAL_SETUP: throw std::runtime_error("no memory for the effect");
    case PF_Cmd_ABOUT: throw std::runtime_error("");
    case PF_Cmd_GLOBAL_SETDOWN: throw 7;
    default: return PF_Err_NONE;
  }
}
