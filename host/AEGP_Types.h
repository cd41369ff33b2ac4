// Opaque references and value records of the AEGP layer of the host.
#pragma once

#include "A_Types.h"

typedef A_long AEGP_PluginID;
typedef A_long AEGP_LayerIDVal;
typedef void* AEGP_GlobalRefcon;

typedef struct AEGP_LayerOpaque* AEGP_LayerH;
typedef struct AEGP_CompOpaque* AEGP_CompH;
typedef struct AEGP_EffectRefOpaque* AEGP_EffectRefH;
typedef struct AEGP_StreamRefOpaque* AEGP_StreamRefH;

typedef A_long AEGP_LTimeMode;
enum { AEGP_LTimeMode_LayerTime = 0, AEGP_LTimeMode_CompTime = 1 };

typedef A_long AEGP_DynStreamFlags;
enum {
  AEGP_DynStreamFlag_ACTIVE_EYEBALL = 1L << 0,
  AEGP_DynStreamFlag_HIDDEN = 1L << 1,
  AEGP_DynStreamFlag_DISABLED = 1L << 4,
  AEGP_DynStreamFlag_ELIDED = 1L << 5
};

typedef struct {
  A_FpLong x, y;
} AEGP_TwoDVal;
typedef struct {
  A_FpLong x, y, z;
} AEGP_ThreeDVal;
typedef struct {
  A_FpLong alpha, red, green, blue;
} AEGP_ColorVal;

typedef union {
  AEGP_ThreeDVal three_d;
  AEGP_TwoDVal two_d;
  A_FpLong one_d;
  AEGP_ColorVal color;
  AEGP_LayerIDVal layer_id;
  A_long mask_id;
} AEGP_StreamVal2;

// A stream value: owned by the caller until AEGP_DisposeStreamValue.
typedef struct {
  AEGP_StreamRefH streamH;
  AEGP_StreamVal2 val;
} AEGP_StreamValue2;
