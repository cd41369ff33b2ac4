// The effect's handlers, in the order the host meets them: About, the global
// lifecycle, parameters, their visibility, pre-render, render, and the
// dispatcher that the host calls.
//
// Every handler keeps one error variable: a host call runs only while it is
// 0, and clean-up calls (check-in, dispose, unlock) run whatever it holds but
// replace it only while it is still 0, so the first error is the one
// returned. A missing suite is the only failure that travels as an exception.

#include "TovanePlugin.h"

#include <cmath>
#include <cstdint>
#include <cstring>

#include "AEGP_SuiteHandler.h"
#include "Smart_Utils.h"

namespace {

const char kModeChoices[] = "Center|Whole|No Margin|Fit to Layer";
const char kTimeTypeChoices[] = "Percent|Second";

// Keeps the first error: a later code replaces the result only while it is 0.
inline void KeepFirstError(PF_Err& err, PF_Err later) {
  if (err == PF_Err_NONE) {
    err = later;
  }
}

// Truncation toward zero into the host's 32-bit integer that is defined for
// every input: out-of-range values saturate and NaN gives 0, so no size,
// rate or scale the host hands over can make a conversion undefined.
A_long SaturatingTrunc(double value) {
  if (std::isnan(value)) {
    return 0;
  }
  if (value >= 2147483647.0) {
    return INT32_MAX;
  }
  if (value <= -2147483648.0) {
    return INT32_MIN;
  }
  return static_cast<A_long>(value);
}

A_long Saturate(std::int64_t value) {
  if (value > INT32_MAX) {
    return INT32_MAX;
  }
  if (value < INT32_MIN) {
    return INT32_MIN;
  }
  return static_cast<A_long>(value);
}

// ---------------------------------------------------------------------------
// About

// Answers command 0 with the name, version and notice in return_msg.
PF_Err About(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* /*params*/[], PF_LayerDef* /*output*/) {
  in_data->utils->ansi.sprintf(out_data->return_msg, "%s, v%d.%d%d\r%s", EFFECT_NAME, MAJOR_VERSION,
                               MINOR_VERSION, BUG_VERSION, EFFECT_NOTICE);
  return PF_Err_NONE;
}

// ---------------------------------------------------------------------------
// Global lifecycle

// Answers command 1: announces version and flags, registers with AEGP and
// leaves the global handle (holding the plug-in id) with the host. A handle
// that does not reach the host is disposed of here.
PF_Err GlobalSetup(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* /*params*/[],
                   PF_LayerDef* /*output*/) {
  PF_Err err = PF_Err_NONE;

  // Announced before anything can fail, so the host sees them whatever the result.
  out_data->my_version = EFFECT_VERSION;
  out_data->out_flags |= GLOBAL_OUT_FLAGS;
  out_data->out_flags2 |= GLOBAL_OUT_FLAGS_2;

  AEGP_SuiteHandler suites(in_data->pica_basicP);
  const PF_HandleSuite2* handles = suites.HandleSuite();
  // Acquired before the handle exists, so a missing suite cannot strand it.
  const AEGP_UtilitySuite7* utility = suites.UtilitySuite();

  PF_Handle global_handle = handles->host_new_handle(sizeof(GlobalData));
  if (global_handle == nullptr) {
    return PF_Err_INTERNAL_STRUCT_DAMAGED;
  }

  auto* global = static_cast<GlobalData*>(handles->host_lock_handle(global_handle));
  if (global != nullptr) {
    err = utility->AEGP_RegisterWithAEGP(nullptr, "Error!", &global->plugin_id);
  } else {
    // Without global data no later command could find its plug-in id:
    // report the failure instead of a success with nothing stored.
    err = PF_Err_OUT_OF_MEMORY;
  }
  handles->host_unlock_handle(global_handle);

  if (err == PF_Err_NONE) {
    out_data->global_data = global_handle;
  } else {
    handles->host_dispose_handle(global_handle);
  }
  return err;
}

// Answers command 3: frees the global handle.
PF_Err GlobalSetdown(PF_InData* in_data) {
  AEGP_SuiteHandler suites(in_data->pica_basicP);
  if (in_data->global_data != nullptr) {
    suites.HandleSuite()->host_dispose_handle(in_data->global_data);
  }
  return PF_Err_NONE;
}

// The plug-in id kept by global setup, or null when the host passed no
// usable global handle. The handle's bytes are reached through an untyped
// pointer: what the handle points at is a pointer of the host's type.
const GlobalData* GlobalDataOf(const PF_InData* in_data) {
  if (in_data->global_data == nullptr) {
    return nullptr;
  }
  const void* bytes = *in_data->global_data;
  return static_cast<const GlobalData*>(bytes);
}

// ---------------------------------------------------------------------------
// Parameters

// Answers command 4: declares the five controls in their saved order. The
// definition record is zeroed before each one, so nothing of one control
// leaks into the next.
PF_Err ParamsSetup(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* /*params*/[],
                   PF_LayerDef* /*output*/) {
  PF_Err err = PF_Err_NONE;
  PF_ParamDef def;

  const auto begin = [&](decltype(PF_ParamDef::param_type) type, const char* name, A_long id) {
    std::memset(&def, 0, sizeof(def));
    def.flags = PF_ParamFlag_START_COLLAPSED;
    def.param_type = type;
    in_data->utils->ansi.strcpy(def.name, name);
    def.uu.id = id;
  };
  const auto add = [&]() { return in_data->inter.add_param(in_data->effect_ref, -1, &def); };

  begin(PF_Param_POPUP, "Mode", PARAM_MODE);
  def.u.pd.num_choices = MODE_NUM;
  def.u.pd.dephault = MODE_WHOLE;
  def.u.pd.value = MODE_WHOLE;
  def.u.pd.u.namesptr = kModeChoices;
  if ((err = add()) != PF_Err_NONE) {
    return err;
  }

  begin(PF_Param_LAYER, "Layer", PARAM_LAYER);
  def.u.ld.dephault = PF_LayerDefault_NONE;
  if ((err = add()) != PF_Err_NONE) {
    return err;
  }

  begin(PF_Param_POPUP, "Time Type", PARAM_TIME_TYPE);
  def.u.pd.num_choices = TIME_TYPE_NUM;
  def.u.pd.dephault = TIME_TYPE_PERCENT;
  def.u.pd.value = TIME_TYPE_PERCENT;
  def.u.pd.u.namesptr = kTimeTypeChoices;
  if ((err = add()) != PF_Err_NONE) {
    return err;
  }

  begin(PF_Param_FIX_SLIDER, "Time(%)", PARAM_TIME_PERCENT);
  def.u.fd.valid_min = 0;
  def.u.fd.valid_max = 100 << 16;
  def.u.fd.slider_min = 0;
  def.u.fd.slider_max = 100 << 16;
  def.u.fd.dephault = 0;
  def.u.fd.value = 0;
  def.u.fd.precision = 2;
  def.u.fd.display_flags = PF_ValueDisplayFlag_PERCENT;
  if ((err = add()) != PF_Err_NONE) {
    return err;
  }

  // Typed values are accepted up to 1,000,000 s; the slider itself spans 0 to 20.
  begin(PF_Param_FLOAT_SLIDER, "Time(sec)", PARAM_TIME_SEC);
  def.u.fs_d.valid_min = 0.0f;
  def.u.fs_d.valid_max = 1000000.0f;
  def.u.fs_d.slider_min = 0.0f;
  def.u.fs_d.slider_max = 20.0f;
  def.u.fs_d.dephault = 0.0f;
  def.u.fs_d.value = 0.0;
  def.u.fs_d.precision = 2;
  def.u.fs_d.display_flags = 0;
  def.u.fs_d.fs_flags = 0;
  def.u.fs_d.curve_tolerance = 0.05f;
  if ((err = add()) != PF_Err_NONE) {
    return err;
  }

  out_data->num_params = PARAM_NUM;
  return PF_Err_NONE;
}

// ---------------------------------------------------------------------------
// Visibility of the time sliders

// Sets or clears the hidden flag of one of the effect's parameter streams,
// never as an undoable change. The stream reference lives only inside this call.
PF_Err SetStreamHidden(AEGP_SuiteHandler& suites, AEGP_EffectRefH effect, AEGP_PluginID plugin_id,
                       PF_ParamIndex index, A_Boolean hide) {
  PF_Err err = PF_Err_NONE;
  AEGP_StreamRefH stream = nullptr;

  err = suites.StreamSuite()->AEGP_GetNewEffectStreamByIndex(plugin_id, effect, index, &stream);
  if (err == PF_Err_NONE) {
    err = suites.DynamicStreamSuite()->AEGP_SetDynamicStreamFlag(stream, AEGP_DynStreamFlag_HIDDEN, 0, hide);
  }
  if (stream != nullptr) {
    KeepFirstError(err, suites.StreamSuite()->AEGP_DisposeStream(stream));
  }
  return err;
}

// Answers command 14: shows the time slider that matches "Time Type" and
// hides the other; any other "Time Type" value changes neither.
PF_Err UpdateParamsUI(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                      PF_LayerDef* /*output*/) {
  const GlobalData* global = GlobalDataOf(in_data);
  if (global == nullptr) {
    return PF_Err_INTERNAL_STRUCT_DAMAGED;
  }
  PF_Err err = PF_Err_NONE;
  const AEGP_PluginID plugin_id = global->plugin_id;
  const A_long time_type =
      (params != nullptr && params[PARAM_TIME_TYPE] != nullptr) ? params[PARAM_TIME_TYPE]->u.pd.value : 0;
  const bool changes_visibility = time_type == TIME_TYPE_PERCENT || time_type == TIME_TYPE_SECOND;

  AEGP_SuiteHandler suites(in_data->pica_basicP);
  // Every suite the call can need is acquired before the effect reference
  // exists, so a missing suite cannot strand a reference with the host.
  const AEGP_PFInterfaceSuite1* pf_interface = suites.PFInterfaceSuite();
  const AEGP_EffectSuite2* effects = suites.EffectSuite();
  if (changes_visibility) {
    suites.StreamSuite();
    suites.DynamicStreamSuite();
  }

  AEGP_EffectRefH effect = nullptr;
  err = pf_interface->AEGP_GetNewEffectForEffect(plugin_id, in_data->effect_ref, &effect);

  if (time_type == TIME_TYPE_PERCENT) {
    if (err == PF_Err_NONE) {
      err = SetStreamHidden(suites, effect, plugin_id, PARAM_TIME_PERCENT, false);
    }
    if (err == PF_Err_NONE) {
      err = SetStreamHidden(suites, effect, plugin_id, PARAM_TIME_SEC, true);
    }
  } else if (time_type == TIME_TYPE_SECOND) {
    if (err == PF_Err_NONE) {
      err = SetStreamHidden(suites, effect, plugin_id, PARAM_TIME_PERCENT, true);
    }
    if (err == PF_Err_NONE) {
      err = SetStreamHidden(suites, effect, plugin_id, PARAM_TIME_SEC, false);
    }
  }

#if !defined(TOVANE_FAULT_LEAK_EFFECT_REF)
  if (effect != nullptr) {
    KeepFirstError(err, effects->AEGP_DisposeEffect(effect));
  }
#else
  (void)effects;  // a deliberately broken build for the validator's own tests
#endif

  out_data->out_flags |= PF_OutFlag_REFRESH_UI;
  return err;
}

// ---------------------------------------------------------------------------
// Smart pre-render

// Checks out one parameter's value at the current time.
PF_Err CheckoutAtCurrentTime(const PF_InData* in_data, PF_ParamIndex index, PF_ParamDef* param) {
  std::memset(param, 0, sizeof(*param));
  return in_data->inter.checkout_param(in_data->effect_ref, index, in_data->current_time, in_data->time_step,
                                       in_data->time_scale, param);
}

// One side of the requested rectangle: the full-resolution size scaled by
// the current downsample factor, rounded half up.
A_long DownsampledSize(A_long full_size, const PF_RationalScale& factor) {
  const double scale = static_cast<double>(factor.num) / static_cast<double>(factor.den);
  return SaturatingTrunc(full_size * scale + 0.5);
}

// Answers command 23: reads the four controls the render pass needs into a
// PreRenderData handle for the host, asks for the whole input layer at the
// current resolution and reports its extent as the output's.
PF_Err SmartPreRender(PF_InData* in_data, PF_OutData* /*out_data*/, PF_PreRenderExtra* extra) {
  PF_Err err = PF_Err_NONE;
  PF_RenderRequest request = extra->input->output_request;  // the host's own request stays as it is

  AEGP_SuiteHandler suites(in_data->pica_basicP);
  const PF_HandleSuite2* handles = suites.HandleSuite();

  PF_Handle record_handle = handles->host_new_handle(sizeof(PreRenderData));
  if (record_handle == nullptr) {
    return PF_Err_OUT_OF_MEMORY;
  }
  auto* record = static_cast<PreRenderData*>(handles->host_lock_handle(record_handle));
  if (record == nullptr) {
    handles->host_dispose_handle(record_handle);  // never reached the host, so it is ours to free
    return PF_Err_OUT_OF_MEMORY;
  }
  // From here the host owns the handle, whatever happens next.
  extra->output->pre_render_data = record_handle;

  const PF_ParamIndex kReadHere[] = {PARAM_MODE, PARAM_TIME_TYPE, PARAM_TIME_PERCENT, PARAM_TIME_SEC};
  enum { kMode, kTimeType, kTimePercent, kTimeSec, kReadCount };
  PF_ParamDef values[kReadCount];
  int checked_out = 0;  // a failed checkout holds nothing to check in
  while (checked_out < kReadCount) {
    err = CheckoutAtCurrentTime(in_data, kReadHere[checked_out], &values[checked_out]);
    if (err != PF_Err_NONE) {
      break;
    }
    ++checked_out;
  }

  if (err == PF_Err_NONE) {
    request.preserve_rgb_of_zero_alpha = true;
    request.rect.left = 0;
    request.rect.top = 0;
    request.rect.right = DownsampledSize(in_data->width, in_data->downsample_x);
    request.rect.bottom = DownsampledSize(in_data->height, in_data->downsample_y);
    extra->output->flags |= PF_RenderOutputFlag_RETURNS_EXTRA_PIXELS;

    PF_CheckoutResult input_result;
    std::memset(&input_result, 0, sizeof(input_result));
    err = extra->cb->checkout_layer(in_data->effect_ref, PARAM_INPUT, 0, &request, in_data->current_time,
                                    in_data->time_step, in_data->time_scale, &input_result);
    if (err == PF_Err_NONE) {
      std::memset(record, 0, sizeof(*record));
      record->mode = values[kMode].u.pd.value;
      record->time_type = values[kTimeType].u.pd.value;
      record->time_ratio = values[kTimePercent].u.fd.value / 65536.0 * 0.01;
      record->time_sec = values[kTimeSec].u.fs_d.value;

      UnionLRect(&input_result.result_rect, &extra->output->result_rect);
      UnionLRect(&input_result.max_result_rect, &extra->output->max_result_rect);
    }
  }

  // Every value read above has been copied out; the host gets its parameters back.
  for (int i = 0; i < checked_out; ++i) {
    KeepFirstError(err, in_data->inter.checkin_param(in_data->effect_ref, &values[i]));
  }
  return err;
}

// ---------------------------------------------------------------------------
// Smart render: placement and source time

struct Placement {
  PF_LRect src;
  PF_LRect dst;
};

// trunc(b - a + 0.5), never below 0.
A_long NearEdge(double a, double b) {
  const A_long edge = SaturatingTrunc(b - a + 0.5);
  return edge < 0 ? 0 : edge;
}

// trunc(b + a + 0.5), never beyond limit.
A_long FarEdge(double a, double b, A_long limit) {
  const A_long edge = SaturatingTrunc(b + a + 0.5);
  return edge > limit ? limit : edge;
}

// Where a layer frame of lw x lh goes in an output of ow x oh. A frame of the
// output's exact size is always copied whole, whatever the mode.
Placement PlaceFrame(A_long mode, A_long lw, A_long lh, A_long ow, A_long oh) {
  Placement p = {{0, 0, lw, lh}, {0, 0, ow, oh}};
  if (lw == ow && lh == oh) {
    mode = MODE_FIT_TO_LAYER;
  }
  const double rx = static_cast<double>(ow) / lw;
  const double ry = static_cast<double>(oh) / lh;

  switch (mode) {
    case MODE_CENTER: {
      // A window of the output's size centred on the frame, deliberately not
      // clamped: past the frame's edges the copy reads transparent black.
      const std::int64_t lw2 = lw / 2, lh2 = lh / 2, ow2 = ow / 2, oh2 = oh / 2;
      p.src = {Saturate(lw2 - ow2), Saturate(lh2 - oh2), Saturate(lw2 + ow2), Saturate(lh2 + oh2)};
      break;
    }
    case MODE_WHOLE:
#if defined(TOVANE_FAULT_WHOLE_STRETCHES)
      break;  // a deliberately broken build for the validator's own tests
#endif
      if (ry > rx) {
        const double a = 0.5 * rx * lh, b = 0.5 * oh;
        p.dst.top = NearEdge(a, b);
        p.dst.bottom = FarEdge(a, b, oh);
      } else {
        const double a = 0.5 * ry * lw, b = 0.5 * ow;
        p.dst.left = NearEdge(a, b);
        p.dst.right = FarEdge(a, b, ow);
      }
      break;
    case MODE_NO_MARGIN:
      if (ry > rx) {
        const double a = 0.5 * ow / ry, b = 0.5 * lw;
        p.src.left = NearEdge(a, b);
        p.src.right = FarEdge(a, b, lw);
      } else {
        const double a = 0.5 * oh / rx, b = 0.5 * lh;
        p.src.top = NearEdge(a, b);
        p.src.bottom = FarEdge(a, b, lh);
      }
      break;
    default:  // MODE_FIT_TO_LAYER, and any value a damaged project may hold
      break;
  }
  return p;
}

// The chosen layer's duration less one frame of the composition, never below 0.
A_Time ShortenByOneFrame(A_Time duration, double frame_rate) {
  const A_long one_frame = SaturatingTrunc(duration.scale / frame_rate);
  const std::int64_t shortened = static_cast<std::int64_t>(duration.value) - one_frame;
  duration.value = shortened > 0 ? Saturate(shortened) : 0;
  return duration;
}

// The composition time of the frame to show: the chosen layer's in-point plus
// the offset the record asks for, not clamped to the layer's extent.
A_Time SourceCompTime(const PreRenderData& record, A_Time in_point, A_Time shortened_duration,
                      A_u_long time_scale) {
  const double duration_sec = static_cast<double>(shortened_duration.value) / shortened_duration.scale;
  double offset = 0.0;
  if (record.time_type == TIME_TYPE_PERCENT) {
    offset = duration_sec * record.time_ratio;
  } else if (record.time_type == TIME_TYPE_SECOND) {
    offset = record.time_sec;
  }
  const double in_point_sec = static_cast<double>(in_point.value) / in_point.scale;
  A_Time comp_time;
  comp_time.scale = time_scale;
  comp_time.value = SaturatingTrunc((in_point_sec + offset) * time_scale + 0.5);
  return comp_time;
}

// ---------------------------------------------------------------------------
// Smart render: finding the chosen layer

struct ChosenLayer {
  AEGP_LayerH effect_layer = nullptr;  // the layer that carries the effect
  bool found = false;                  // a layer is chosen in "Layer"
  A_Time in_point = {0, 1};            // composition time
  A_Time duration = {0, 1};            // composition time, shortened by one frame
};

// Reads the "Layer" control through the AEGP suites and, when a layer is
// chosen, its in-point and shortened duration. The effect reference, the
// stream and its value are disposed of before returning.
PF_Err FindChosenLayer(AEGP_SuiteHandler& suites, const PF_InData* in_data, AEGP_PluginID plugin_id,
                       ChosenLayer* chosen) {
  PF_Err err = PF_Err_NONE;
  AEGP_CompH comp = nullptr;
  A_FpLong frame_rate = 30.0;

  err = suites.PFInterfaceSuite()->AEGP_GetEffectLayer(in_data->effect_ref, &chosen->effect_layer);
  if (err == PF_Err_NONE) {
    err = suites.LayerSuite()->AEGP_GetLayerParentComp(chosen->effect_layer, &comp);
  }
  if (err == PF_Err_NONE) {
    err = suites.CompSuite()->AEGP_GetCompFramerate(comp, &frame_rate);
  }
  if (err != PF_Err_NONE) {
    return err;
  }

  // Every suite used from here on is acquired before the first reference
  // that must be disposed of exists, so a missing suite cannot strand one.
  const AEGP_EffectSuite2* effects = suites.EffectSuite();
  const AEGP_StreamSuite9* streams = suites.StreamSuite();
  const AEGP_LayerSuite13* layers = suites.LayerSuite();

  AEGP_EffectRefH effect = nullptr;
  AEGP_StreamRefH layer_stream = nullptr;
  AEGP_StreamValue2 value;
  std::memset(&value, 0, sizeof(value));
  AEGP_LayerIDVal layer_id = 0;

  err = suites.PFInterfaceSuite()->AEGP_GetNewEffectForEffect(plugin_id, in_data->effect_ref, &effect);
  if (err == PF_Err_NONE) {
    err = streams->AEGP_GetNewEffectStreamByIndex(plugin_id, effect, PARAM_LAYER, &layer_stream);
  }
  if (err == PF_Err_NONE) {
    A_Time now;
    now.value = in_data->current_time;
    now.scale = in_data->time_scale;
    err = streams->AEGP_GetNewStreamValue(plugin_id, layer_stream, AEGP_LTimeMode_LayerTime, &now, false, &value);
    if (err == PF_Err_NONE) {
      layer_id = value.val.layer_id;
    }
  }

  if (err == PF_Err_NONE && layer_id != 0) {
    chosen->found = true;
    AEGP_LayerH layer = nullptr;
    err = layers->AEGP_GetLayerFromLayerID(comp, layer_id, &layer);
    if (err == PF_Err_NONE) {
      err = layers->AEGP_GetLayerInPoint(layer, AEGP_LTimeMode_CompTime, &chosen->in_point);
    }
    if (err == PF_Err_NONE) {
      err = layers->AEGP_GetLayerDuration(layer, AEGP_LTimeMode_CompTime, &chosen->duration);
    }
    chosen->duration = ShortenByOneFrame(chosen->duration, frame_rate);
  }

  if (layer_stream != nullptr) {
    // The value is disposed of whenever the stream exists, even when reading it failed.
    KeepFirstError(err, streams->AEGP_DisposeStreamValue(&value));
    KeepFirstError(err, streams->AEGP_DisposeStream(layer_stream));
  }
  if (effect != nullptr) {
    KeepFirstError(err, effects->AEGP_DisposeEffect(effect));
  }
  return err;
}

// ---------------------------------------------------------------------------
// Smart render

// Answers command 24: shows the chosen layer's frame at the computed time,
// placed by "Mode"; with no layer chosen, or no frame at that time, passes
// the input through.
PF_Err SmartRender(PF_InData* in_data, PF_OutData* /*out_data*/, PF_SmartRenderExtra* extra) {
  const GlobalData* global = GlobalDataOf(in_data);
  if (global == nullptr) {
    return PF_Err_INTERNAL_STRUCT_DAMAGED;
  }
  PF_Err err = PF_Err_NONE;
  const AEGP_PluginID plugin_id = global->plugin_id;

  AEGP_SuiteHandler suites(in_data->pica_basicP);
  const auto* locked =
      static_cast<const PreRenderData*>(suites.HandleSuite()->host_lock_handle(extra->input->pre_render_data));
  if (locked == nullptr) {
    return PF_Err_BAD_CALLBACK_PARAM;
  }
#if !defined(TOVANE_FAULT_RECORD_IN_STATIC)
  const PreRenderData record = *locked;  // the handle stays locked and stays the host's
#else
  // A deliberately thread-unsafe build for the validator's own tests: one
  // record for every render at once, read again after the host's callbacks.
  static PreRenderData record;
  record = *locked;
#endif

  PF_EffectWorld* input = nullptr;
  PF_EffectWorld* output = nullptr;
  err = extra->cb->checkout_layer_pixels(in_data->effect_ref, 0, &input);
  if (err == PF_Err_NONE) {
    err = extra->cb->checkout_output(in_data->effect_ref, &output);
  }
  if (err == PF_Err_NONE && (input == nullptr || output == nullptr)) {
    err = PF_Err_BAD_CALLBACK_PARAM;  // a host that reports success with no world
  }

  ChosenLayer chosen;
  if (err == PF_Err_NONE) {
    err = FindChosenLayer(suites, in_data, plugin_id, &chosen);
  }

  if (!chosen.found) {
    if (err == PF_Err_NONE) {
      err = in_data->utils->copy(in_data->effect_ref, input, output, nullptr, nullptr);
    }
    return err;
  }

  A_Time layer_time = {0, 1};
  if (err == PF_Err_NONE) {
    const A_Time comp_time = SourceCompTime(record, chosen.in_point, chosen.duration, in_data->time_scale);
    err = suites.LayerSuite()->AEGP_ConvertCompToLayerTime(chosen.effect_layer, &comp_time, &layer_time);
  }

  PF_ParamDef layer_param;
  std::memset(&layer_param, 0, sizeof(layer_param));
  layer_param.u.ld.data = nullptr;
  bool checked_out = false;
  if (err == PF_Err_NONE) {
    // The host's time scale, not the one the conversion returned: the
    // checkout speaks in the effect layer's time at in_data's scale.
    err = in_data->inter.checkout_param(in_data->effect_ref, PARAM_LAYER, layer_time.value, in_data->time_step,
                                        in_data->time_scale, &layer_param);
    checked_out = (err == PF_Err_NONE);
  }

  const PF_LayerDef& frame = layer_param.u.ld;
  const bool has_pixels = checked_out && frame.data != nullptr && frame.width > 0 && frame.height > 0;
  if (has_pixels) {
    Placement placement = PlaceFrame(record.mode, frame.width, frame.height, output->width, output->height);
    err = in_data->utils->copy(in_data->effect_ref, &layer_param.u.ld, output, &placement.src, &placement.dst);
#if !defined(TOVANE_FAULT_SKIP_LAYER_CHECKIN)
    KeepFirstError(err, in_data->inter.checkin_param(in_data->effect_ref, &layer_param));
#endif
    return err;
  }

  // No usable frame at that time (none, or zero-sized): the input passes
  // through. The check-in is clean-up after that work, so a host that
  // refuses it still leaves the output written.
  if (err == PF_Err_NONE) {
    err = in_data->utils->copy(in_data->effect_ref, input, output, nullptr, nullptr);
  }
  if (checked_out) {
    KeepFirstError(err, in_data->inter.checkin_param(in_data->effect_ref, &layer_param));
  }
  return err;
}

}  // namespace

// ---------------------------------------------------------------------------
// Entry point

// The one function the host calls. The only place an exception is caught:
// the error code a missing suite throws, of exactly the platform's error type.
extern "C" TOVANE_EXPORT PF_Err EntryPointFunc(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                                              PF_ParamDef* params[], PF_LayerDef* output, void* extra) {
  PF_Err err = PF_Err_NONE;
  try {
    switch (cmd) {
      case PF_Cmd_ABOUT:
        err = About(in_data, out_data, params, output);
        break;
      case PF_Cmd_GLOBAL_SETUP:
        err = GlobalSetup(in_data, out_data, params, output);
        break;
      case PF_Cmd_GLOBAL_SETDOWN:
        err = GlobalSetdown(in_data);
        break;
      case PF_Cmd_PARAMS_SETUP:
        err = ParamsSetup(in_data, out_data, params, output);
        break;
      case PF_Cmd_UPDATE_PARAMS_UI:
        err = UpdateParamsUI(in_data, out_data, params, output);
        break;
      case PF_Cmd_SMART_PRE_RENDER:
        err = SmartPreRender(in_data, out_data, static_cast<PF_PreRenderExtra*>(extra));
        break;
      case PF_Cmd_SMART_RENDER:
        err = SmartRender(in_data, out_data, static_cast<PF_SmartRenderExtra*>(extra));
        break;
      default:  // every other command, the classic render included, is not ours
        break;
    }
  } catch (PF_Err& thrown) {
    err = thrown;
  }
  return err;
}
