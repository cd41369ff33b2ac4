// The records passed to the entry point on every command.
#pragma once

#include "A_Types.h"
#include "PF_Callbacks.h"
#include "PF_Flags.h"
#include "PF_HandleSuite.h"
#include "PF_Pixels.h"
#include "SPBasicSuite.h"

typedef struct {
  A_short major;
  A_short minor;
} PF_SpecVersion;

typedef A_long PF_Field;
enum { PF_Field_FRAME = 0, PF_Field_UPPER = 1, PF_Field_LOWER = 2 };

typedef A_long PF_Quality;
typedef A_long PF_InFlags;

// What the host tells the effect on each call. The effect never writes it.
typedef struct PF_InData {
  PF_InteractCallbacks inter;
  PF_UtilCallbacks* utils;
  PF_ProgPtr effect_ref;
  PF_Quality quality;
  PF_SpecVersion version;
  A_long serial_num;
  A_long appl_id;
  A_long num_params;
  A_long reserved;
  A_long what_cpu;
  A_long what_fpu;
  A_long current_time;  // in the effect layer's time, over time_scale
  A_long time_step;
  A_long total_time;
  A_long local_time_step;
  A_u_long time_scale;
  PF_Field field;
  PF_Fixed shutter_angle;
  A_long width;  // the input layer's size at full resolution
  A_long height;
  PF_LRect extent_hint;
  A_long output_origin_x;
  A_long output_origin_y;
  PF_RationalScale downsample_x;
  PF_RationalScale downsample_y;
  PF_RationalScale pixel_aspect_ratio;
  PF_InFlags in_flags;
  PF_Handle global_data;  // what global setup left in PF_OutData::global_data
  PF_Handle sequence_data;
  PF_Handle frame_data;
  A_long start_sampL;
  A_long dur_sampL;
  A_long total_sampL;
  const SPBasicSuite* pica_basicP;  // null would be a broken host
  A_long pre_effect_source_origin_x;
  A_long pre_effect_source_origin_y;
  PF_Fixed shutter_phase;
} PF_InData;

// What the effect tells the host.
typedef struct PF_OutData {
  A_u_long my_version;
  A_char name[32];
  PF_Handle global_data;
  A_long num_params;
  PF_Handle sequence_data;
  A_long flat_sdata_size;
  PF_Handle frame_data;
  A_long width;
  A_long height;
  struct {
    A_short h, v;
  } origin;
  PF_OutFlags out_flags;
  A_char return_msg[PF_MAX_EFFECT_MSG_LEN + 1];
  A_long start_sampL;
  A_long dur_sampL;
  A_long dest_snd;
  PF_OutFlags2 out_flags2;
} PF_OutData;
