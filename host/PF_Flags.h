// Flag words and version packing announced by the effect in PF_OutData.
#pragma once

#include "A_Types.h"

typedef A_long PF_OutFlags;
typedef A_long PF_OutFlags2;

enum {
  PF_OutFlag_NONE = 0,
  PF_OutFlag_DISPLAY_ERROR_MESSAGE = 1L << 8,
  PF_OutFlag_REFRESH_UI = 1L << 17,
  PF_OutFlag_DEEP_COLOR_AWARE = 1L << 25,
  PF_OutFlag_SEND_UPDATE_PARAMS_UI = 1L << 26
};

enum {
  PF_OutFlag2_NONE = 0,
  PF_OutFlag2_SUPPORTS_SMART_RENDER = 1L << 10,
  PF_OutFlag2_FLOAT_COLOR_AWARE = 1L << 12
};

// Flags the pre-render pass reports in PF_PreRenderOutput::flags.
typedef A_short PF_RenderOutputFlags;
enum { PF_RenderOutputFlag_RETURNS_EXTRA_PIXELS = 0x1 };

// Stages of the packed effect version.
enum { PF_Stage_DEVELOP = 0, PF_Stage_ALPHA = 1, PF_Stage_BETA = 2, PF_Stage_RELEASE = 3 };

// Effect version packing: build in bits 0-8, stage 9-10, patch 11-14,
// minor 15-18, major 19-21.
#define PF_VERSION(VERS, SUBVERS, BUGVERS, STAGE, BUILD)                                        \
  ((((VERS) & 0x7) << 19) | (((SUBVERS) & 0xF) << 15) | (((BUGVERS) & 0xF) << 11) |             \
   (((STAGE) & 0x3) << 9) | ((BUILD) & 0x1FF))
