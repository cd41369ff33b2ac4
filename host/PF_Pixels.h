// Rectangles, pixel worlds and the layer-parameter record that carries them.
#pragma once

#include "A_Types.h"

// Layout fixed by the host: left, top, right, bottom, nothing between.
typedef struct {
  A_long left, top, right, bottom;
} PF_LRect;

typedef PF_LRect PF_UnionableRect;

// Layout fixed by the host: numerator, then denominator, nothing between.
typedef struct {
  A_long num;
  A_u_long den;
} PF_RationalScale;

typedef A_long PF_WorldFlags;
enum {
  PF_WorldFlag_DEEP = 1L << 0,      // 16 bits per channel
  PF_WorldFlag_WRITEABLE = 1L << 1,
  PF_WorldFlag_FLOAT = 1L << 2      // 32-bit float per channel
};

// Pixels are ARGB in memory at every depth: 8-bit 0-255, 16-bit 0-32768,
// 32-bit float with 1.0 as full intensity. Layout fixed by the host: a world's
// memory holds its pixels in this form (the effect itself reads no pixel).
typedef struct {
  A_u_char alpha, red, green, blue;
} PF_Pixel8;
// Layout fixed by the host, as PF_Pixel8.
typedef struct {
  A_u_short alpha, red, green, blue;
} PF_Pixel16;
// Layout fixed by the host, as PF_Pixel8.
typedef struct {
  float alpha, red, green, blue;
} PF_PixelFloat;

enum { PF_MAX_CHAN8 = 255, PF_MAX_CHAN16 = 32768 };

// A pixel world. For a layer parameter the same record is the parameter's
// value: `data` is null when the host has no pixels for the requested time.
typedef struct PF_LayerDef {
  void* reserved0;
  void* reserved1;
  PF_WorldFlags world_flags;
  void* data;
  A_long rowbytes;
  A_long width;
  A_long height;
  PF_UnionableRect extent_hint;
  void* platform_ref;
  A_long reserved_long1;
  void* reserved_long4;
  PF_RationalScale pix_aspect_ratio;
  void* reserved_long2;
  A_long origin_x;
  A_long origin_y;
  A_long reserved_long3;
  A_long dephault;  // layer parameters only: PF_LayerDefault_*
} PF_LayerDef;

typedef PF_LayerDef PF_EffectWorld;

enum { PF_LayerDefault_MYSELF = -1, PF_LayerDefault_NONE = 0 };
