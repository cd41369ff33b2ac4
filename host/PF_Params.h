// Parameter definitions: what the effect declares at params setup and what
// the host hands back when a parameter is checked out.
#pragma once

#include "A_Types.h"
#include "PF_Pixels.h"

typedef A_long PF_ParamIndex;
typedef A_long PF_Fixed;  // 16.16 fixed point: 65536 is 1.0
typedef double PF_FpLong;
typedef float PF_FpShort;
typedef A_long PF_ParamFlags;
typedef A_long PF_ParamUIFlags;

enum {
  PF_Param_LAYER = 0,
  PF_Param_SLIDER = 1,
  PF_Param_FIX_SLIDER = 2,
  PF_Param_ANGLE = 3,
  PF_Param_CHECKBOX = 4,
  PF_Param_COLOR = 5,
  PF_Param_POINT = 6,
  PF_Param_POPUP = 7,
  PF_Param_CUSTOM = 8,
  PF_Param_NO_DATA = 9,
  PF_Param_FLOAT_SLIDER = 10
};
typedef A_long PF_ParamType;

enum {
  PF_ParamFlag_RESERVED1 = 1L << 0,
  PF_ParamFlag_CANNOT_TIME_VARY = 1L << 1,
  PF_ParamFlag_CANNOT_INTERP = 1L << 2,
  PF_ParamFlag_RESERVED2 = 1L << 3,
  PF_ParamFlag_RESERVED3 = 1L << 4,
  PF_ParamFlag_START_COLLAPSED = 1L << 5
};

enum { PF_ValueDisplayFlag_NONE = 0, PF_ValueDisplayFlag_PERCENT = 1L << 0, PF_ValueDisplayFlag_PIXEL = 1L << 1 };

enum { PF_MAX_EFFECT_PARAM_NAME_LEN = 31, PF_MAX_EFFECT_MSG_LEN = 255 };

typedef A_char PF_ValueDisplayString[32];

// Popup: value is the 1-based position of the chosen entry of the
// "|"-separated choice text.
typedef struct {
  A_long value;
  A_short num_choices;
  A_short dephault;
  union {
    A_long id;
    const A_char* namesptr;
  } u;
} PF_PopupDef;

typedef struct {
  PF_Fixed value;
  PF_ValueDisplayString value_str;
  PF_ValueDisplayString value_desc;
  PF_Fixed valid_min, valid_max;
  PF_Fixed slider_min, slider_max;
  PF_Fixed dephault;
  A_short precision;
  A_short display_flags;
} PF_FixedSliderDef;

typedef struct {
  PF_FpLong value;
  PF_FpLong phase;
  PF_ValueDisplayString value_desc;
  PF_FpShort valid_min, valid_max;
  PF_FpShort slider_min, slider_max;
  PF_FpShort dephault;
  A_short precision;
  A_short display_flags;
  A_u_long fs_flags;
  PF_FpShort curve_tolerance;
  A_Boolean use_exponent;
  PF_FpShort exponent;
} PF_FloatSliderDef;

typedef struct {
  A_long value;
  PF_ValueDisplayString value_str;
  PF_ValueDisplayString value_desc;
  A_long valid_min, valid_max;
  A_long slider_min, slider_max;
  A_long dephault;
} PF_SliderDef;

typedef union {
  PF_LayerDef ld;
  PF_SliderDef sd;
  PF_FixedSliderDef fd;
  PF_PopupDef pd;
  PF_FloatSliderDef fs_d;
} PF_ParamDefUnion;

typedef struct PF_ParamDef {
  union {
    A_long id;            // when declared: the parameter's stable id
    A_long change_flags;  // when handed back: what changed
  } uu;
  PF_ParamUIFlags ui_flags;
  A_short ui_width;
  A_short ui_height;
  PF_ParamType param_type;
  A_char name[PF_MAX_EFFECT_PARAM_NAME_LEN + 1];
  PF_ParamFlags flags;
  A_long unused;
  PF_ParamDefUnion u;
} PF_ParamDef;

typedef PF_ParamDef* PF_ParamDefPtr;
typedef PF_ParamDef** PF_ParamList;
