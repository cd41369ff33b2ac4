// The effect behind a dispatcher that keeps the pre-render data of its
// thread's most recent pre-render and hands it to whichever render comes
// next, as if each pre-render were followed by its own render. Right when
// every frame is rendered straight after its pre-render, even on several
// threads at once (the static is one per thread); wrong as soon as a host
// pre-renders ahead. The effect's sources are built with their entry point
// renamed EffectEntryPointFunc for this module, so TovanePlugin.h declares
// that name here.
#include "TovanePlugin.h"

#undef EntryPointFunc

extern "C" TOVANE_EXPORT PF_Err EntryPointFunc(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                                              PF_ParamDef* params[], PF_LayerDef* output, void* extra) {
  thread_local PF_Handle last_pre_render_data = nullptr;
  if (cmd == PF_Cmd_SMART_RENDER && extra != nullptr) {
    static_cast<PF_SmartRenderExtra*>(extra)->input->pre_render_data = last_pre_render_data;
  }
  const PF_Err err = EffectEntryPointFunc(cmd, in_data, out_data, params, output, extra);
  if (cmd == PF_Cmd_SMART_PRE_RENDER && err == PF_Err_NONE && extra != nullptr) {
    last_pre_render_data = static_cast<PF_PreRenderExtra*>(extra)->output->pre_render_data;
  }
  return err;
}
