// TovaneParvolith: replaces its layer's image with a frame of another layer
// of the same composition, taken at a time given as a percentage of that
// layer's duration or as seconds after its in-point, and placed by "Center",
// "Whole", "No Margin" or "Fit to Layer".
#pragma once

#include "AE_Host.h"

// Identity. The version and the two flag words also stand in the plug-in
// property list; a change to one place is a change to both.
#define EFFECT_NAME "TovaneParvolith"
#define EFFECT_NOTICE "Copyright 2026 Tovane. All rights reserved."
enum {
  MAJOR_VERSION = 1,
  MINOR_VERSION = 0,
  BUG_VERSION = 0,
  STAGE_VERSION = PF_Stage_RELEASE,
  BUILD_VERSION = 1
};
enum : A_u_long { EFFECT_VERSION = PF_VERSION(MAJOR_VERSION, MINOR_VERSION, BUG_VERSION, STAGE_VERSION, BUILD_VERSION) };
static_assert(EFFECT_VERSION == 0x80601, "the property list announces version 0x80601");

enum : A_long {
  GLOBAL_OUT_FLAGS = PF_OutFlag_DEEP_COLOR_AWARE | PF_OutFlag_SEND_UPDATE_PARAMS_UI,
  GLOBAL_OUT_FLAGS_2 = PF_OutFlag2_SUPPORTS_SMART_RENDER | PF_OutFlag2_FLOAT_COLOR_AWARE
};
static_assert(GLOBAL_OUT_FLAGS == 0x6000000, "the property list announces out flags 0x6000000");
static_assert(GLOBAL_OUT_FLAGS_2 == 0x1400, "the property list announces out flags 2 0x1400");

// Parameter indices; a parameter's id equals its index. Saved projects depend
// on these numbers and on the order of the controls.
enum {
  PARAM_INPUT = 0,
  PARAM_MODE,
  PARAM_LAYER,
  PARAM_TIME_TYPE,
  PARAM_TIME_PERCENT,
  PARAM_TIME_SEC,
  PARAM_NUM
};

// "Mode" popup values, the 1-based positions of the choice text's entries.
enum { MODE_CENTER = 1, MODE_WHOLE, MODE_NO_MARGIN, MODE_FIT_TO_LAYER, MODE_NUM = MODE_FIT_TO_LAYER };

// "Time Type" popup values.
enum { TIME_TYPE_PERCENT = 1, TIME_TYPE_SECOND, TIME_TYPE_NUM = TIME_TYPE_SECOND };

// Content of the global handle, written once at global setup.
typedef struct {
  AEGP_PluginID plugin_id;
} GlobalData;

// What the pre-render pass hands to the render pass of the same frame.
typedef struct {
  A_long mode;
  A_long time_type;
  double time_ratio;  // "Time(%)" as a fraction: 100 % is 1.0
  double time_sec;    // "Time(sec)" in seconds
} PreRenderData;

// The module's one entry, found by the host under this name (the property
// list's entry-point property). The Windows module exports it through its
// module definition file as well.
#if defined(_WIN32)
#define TOVANE_EXPORT __declspec(dllexport)
#else
#define TOVANE_EXPORT __attribute__((visibility("default")))
#endif

extern "C" TOVANE_EXPORT PF_Err EntryPointFunc(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                                              PF_ParamDef* params[], PF_LayerDef* output, void* extra);
