// Records of the two-pass smart-render protocol (commands 23 and 24).
#pragma once

#include "A_Types.h"
#include "PF_Callbacks.h"
#include "PF_Flags.h"
#include "PF_HandleSuite.h"
#include "PF_Pixels.h"

typedef A_long PF_ChannelMask;
enum { PF_ChannelMask_ALPHA = 0x1, PF_ChannelMask_RED = 0x2, PF_ChannelMask_GREEN = 0x4,
       PF_ChannelMask_BLUE = 0x8, PF_ChannelMask_ARGB = 0xF };

typedef struct {
  PF_LRect rect;  // in downsampled layer pixels
  A_long field;
  PF_ChannelMask channel_mask;
  A_Boolean preserve_rgb_of_zero_alpha;
  A_char unused[3];
  A_long reserved[4];
} PF_RenderRequest;

typedef struct {
  PF_LRect result_rect;
  PF_LRect max_result_rect;
  PF_RationalScale par;
  A_long solid;
  A_Boolean reservedB[3];
  A_long ref_width;
  A_long ref_height;
  A_long reserved[6];
} PF_CheckoutResult;

typedef void (*PF_DeletePreRenderDataFunc)(void* pre_render_data);

typedef struct {
  PF_RenderRequest output_request;
  A_short bitdepth;  // 8, 16 or 32
  const void* gpu_data;
  A_long what_gpu;
  A_u_long device_index;
} PF_PreRenderInput;

typedef struct {
  PF_LRect result_rect;
  PF_LRect max_result_rect;
  A_Boolean solid;
  A_Boolean reserved;
  PF_RenderOutputFlags flags;
  // A handle given to the host; it comes back in the render pass of the same
  // frame and the host frees it afterwards.
  PF_Handle pre_render_data;
  PF_DeletePreRenderDataFunc delete_pre_render_data_func;
} PF_PreRenderOutput;

typedef struct {
  // Declares that the render pass will need a layer parameter's pixels and
  // reports where they will lie; checkout_idL names them in the render pass.
  PF_Err (*checkout_layer)(PF_ProgPtr effect_ref, PF_ParamIndex index, A_long checkout_idL,
                           const PF_RenderRequest* req, A_long what_time, A_long time_step,
                           A_u_long time_scale, PF_CheckoutResult* checkout_result);
  void* reserved[3];
} PF_PreRenderCallbacks;

typedef struct {
  PF_PreRenderInput* input;
  PF_PreRenderOutput* output;
  PF_PreRenderCallbacks* cb;
} PF_PreRenderExtra;

typedef struct {
  PF_RenderRequest output_request;
  A_short bitdepth;
  PF_Handle pre_render_data;  // what the pre-render pass stored
  const void* gpu_data;
  A_long what_gpu;
  A_u_long device_index;
} PF_SmartRenderInput;

typedef struct {
  // Pixels of what checkout_layer declared under checkout_idL; the host owns them.
  PF_Err (*checkout_layer_pixels)(PF_ProgPtr effect_ref, A_long checkout_idL, PF_EffectWorld** pixels);
  PF_Err (*checkin_layer_pixels)(PF_ProgPtr effect_ref, A_long checkout_idL);
  // The world the effect writes its result into; the host owns it.
  PF_Err (*checkout_output)(PF_ProgPtr effect_ref, PF_EffectWorld** output);
  void* reserved[3];
} PF_SmartRenderCallbacks;

typedef struct {
  PF_SmartRenderInput* input;
  PF_SmartRenderCallbacks* cb;
} PF_SmartRenderExtra;

// Positions in the function table are part of the host's interface.
#include <cstddef>
static_assert(offsetof(PF_PreRenderCallbacks, checkout_layer) == 0 * sizeof(void*), "function table position");
static_assert(offsetof(PF_SmartRenderCallbacks, checkout_layer_pixels) == 0 * sizeof(void*), "function table position");
static_assert(offsetof(PF_SmartRenderCallbacks, checkout_output) == 2 * sizeof(void*), "function table position");
