// How the substitute host finds and calls a module's entry point: by the name
// the property list gives, through the one signature every command shares.
// The effect itself only defines the function; the host's published headers
// need not spell either of these.
#pragma once

#include "AE_Host.h"

// extra is a PF_PreRenderExtra* for command 23, a PF_SmartRenderExtra* for 24.
typedef PF_Err (*PF_EntryPointFunc)(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                                    PF_ParamDef* params[], PF_LayerDef* output, void* extra);

#define PF_ENTRY_POINT_NAME "EntryPointFunc"
