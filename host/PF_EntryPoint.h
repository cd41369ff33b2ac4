// The one function the host calls in an effect module.
#pragma once

#include "PF_Commands.h"
#include "PF_Errors.h"
#include "PF_Params.h"
#include "PF_Pixels.h"
#include "PF_Records.h"

#if defined(_WIN32)
#define PF_EXPORT __declspec(dllexport)
#else
#define PF_EXPORT __attribute__((visibility("default")))
#endif

// extra is a PF_PreRenderExtra* for command 23, a PF_SmartRenderExtra* for 24.
typedef PF_Err (*PF_EntryPointFunc)(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                                    PF_ParamDef* params[], PF_LayerDef* output, void* extra);

#define PF_ENTRY_POINT_NAME "EntryPointFunc"
