// Callbacks the host places in PF_InData: parameter interaction and utilities.
// Every callback takes the effect reference of the current call first.
#pragma once

#include "A_Types.h"
#include "PF_Errors.h"
#include "PF_Params.h"
#include "PF_Pixels.h"

// Opaque token that identifies the effect instance of the current call.
typedef struct PF_ProgressInfo* PF_ProgPtr;

typedef struct {
  // Fetches a parameter's value at a time (what_time / time_scale in the
  // effect layer's time). For a layer parameter, u.ld is the chosen layer's
  // frame, with u.ld.data null when the host has no pixels for that time.
  // Every successful checkout must be balanced by checkin_param.
  PF_Err (*checkout_param)(PF_ProgPtr effect_ref, PF_ParamIndex index, A_long what_time,
                           A_long time_step, A_u_long time_scale, PF_ParamDef* param);
  // Returns what checkout_param handed out.
  PF_Err (*checkin_param)(PF_ProgPtr effect_ref, PF_ParamDef* param);
  // Adds a parameter during params setup; index -1 appends.
  PF_Err (*add_param)(PF_ProgPtr effect_ref, PF_ParamIndex index, PF_ParamDefPtr def);
  void* reserved[7];
} PF_InteractCallbacks;

typedef struct {
  // Formats into buffer (at most PF_MAX_EFFECT_MSG_LEN + 1 bytes for return_msg).
  A_long (*sprintf)(A_char* buffer, const A_char* format, ...);
  A_char* (*strcpy)(A_char* dest, const A_char* src);
} PF_ANSICallbacks;

typedef struct {
  void* reserved_before_copy[8];
  // Copies src_r of src into dst_r of dst, scaling when their sizes differ.
  // A null rectangle means the whole world. Source pixels outside src read as
  // transparent black; dst outside dst_r is left as it was.
  PF_Err (*copy)(PF_ProgPtr effect_ref, PF_EffectWorld* src, PF_EffectWorld* dst, PF_LRect* src_r,
                 PF_LRect* dst_r);
  void* reserved_after_copy[8];
  PF_ANSICallbacks ansi;
} PF_UtilCallbacks;

// Positions in the function table are part of the host's interface.
#include <cstddef>
static_assert(offsetof(PF_InteractCallbacks, checkout_param) == 0 * sizeof(void*), "function table position");
static_assert(offsetof(PF_InteractCallbacks, checkin_param) == 1 * sizeof(void*), "function table position");
static_assert(offsetof(PF_UtilCallbacks, copy) == 8 * sizeof(void*), "function table position");
