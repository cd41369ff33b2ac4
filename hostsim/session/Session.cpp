#include "Session.h"

#include <cmath>
#include <cstring>
#include <vector>

namespace hostsim {

PF_Err Session::Send(PF_Cmd cmd, A_long current_time, PF_ParamDef* params[], void* extra) {
  PF_InData in_data = host_.NewInData(current_time);
  std::memset(&out_data_, 0, sizeof(out_data_));
  if (record_hook_) record_hook_(cmd, in_data, out_data_);
  PF_LayerDef output;
  std::memset(&output, 0, sizeof(output));
  return host_.Send(cmd, &in_data, &out_data_, params, &output, extra);
}

PF_Err Session::About() { return Send(PF_Cmd_ABOUT, 0, nullptr, nullptr); }

PF_Err Session::GlobalSetup() { return Send(PF_Cmd_GLOBAL_SETUP, 0, nullptr, nullptr); }

PF_Err Session::ParamsSetup() {
  host_.ClearDeclaredParams();
  return Send(PF_Cmd_PARAMS_SETUP, 0, nullptr, nullptr);
}

PF_Err Session::UpdateParamsUI() {
  // The input layer and every declared parameter.
  const std::size_t count = 1 + host_.declared_params().size();
  std::vector<PF_ParamDef> values(count);
  std::vector<PF_ParamDef*> params(count);
  for (std::size_t i = 0; i < count; ++i) {
    values[i] = host_.ParamValue(static_cast<PF_ParamIndex>(i));
    params[i] = &values[i];
  }
  return Send(PF_Cmd_UPDATE_PARAMS_UI, 0, params.data(), nullptr);
}

PF_Err Session::UpdateParamsUI(const std::string& control, double value) {
  host_.settings().controls[control] = value;
  return UpdateParamsUI();
}

PF_Err Session::GlobalSetdown() { return Send(PF_Cmd_GLOBAL_SETDOWN, 0, nullptr, nullptr); }

PF_Err Session::SendPlain(PF_Cmd cmd) { return Send(cmd, 0, nullptr, nullptr); }

PF_RenderRequest Session::output_request() const {
  if (output_request_) return *output_request_;
  PF_RenderRequest request;
  std::memset(&request, 0, sizeof(request));
  const Host::Size input = host_.input_size();
  request.rect = PF_LRect{0, 0, input.width, input.height};
  request.field = PF_Field_FRAME;
  request.channel_mask = PF_ChannelMask_ARGB;
  return request;
}

PF_Err Session::SmartPreRender(A_long current_time, PF_PreRenderOutput* output) {
  PF_PreRenderInput input;
  std::memset(&input, 0, sizeof(input));
  input.output_request = output_request();
  input.bitdepth = static_cast<A_short>(host_.bit_depth());
  PF_PreRenderExtra extra;
  std::memset(&extra, 0, sizeof(extra));
  extra.input = &input;
  extra.output = output;
  extra.cb = host_.pre_render_callbacks();
  return Send(PF_Cmd_SMART_PRE_RENDER, current_time, nullptr, &extra);
}

PF_Err Session::SmartRender(A_long current_time, PF_Handle pre_render_data, const PF_LRect& output_rect) {
  host_.BeginRenderPass(output_rect);
  PF_SmartRenderInput input;
  std::memset(&input, 0, sizeof(input));
  input.output_request = output_request();
  input.bitdepth = static_cast<A_short>(host_.bit_depth());
  input.pre_render_data = pre_render_data;
  PF_SmartRenderExtra extra;
  std::memset(&extra, 0, sizeof(extra));
  extra.input = &input;
  extra.cb = host_.smart_render_callbacks();
  return Send(PF_Cmd_SMART_RENDER, current_time, nullptr, &extra);
}

FrameResult Session::RenderFrame(A_long current_time) {
  FrameResult frame;
  std::memset(&frame.pre_render_output, 0, sizeof(frame.pre_render_output));
  frame.pre_render = SmartPreRender(current_time, &frame.pre_render_output);
  if (frame.pre_render == PF_Err_NONE) {
    frame.render = SmartRender(current_time, frame.pre_render_output.pre_render_data,
                               frame.pre_render_output.result_rect);
    frame.rendered = true;
    frame.output = host_.TakeOutputWorld();
  }
  // Freed whatever happened: a failed pre-render may have left its handle too.
  PF_PreRenderOutput to_free = frame.pre_render_output;
  host_.FreePreRenderData(&to_free);
  return frame;
}

FrameResult Session::RenderFrameAtCompTime(const A_Time& comp_time) {
  const CompositionModel& comp = host_.composition();
  double effect_start = 0.0;
  for (const LayerModel& layer : comp.layers) {
    if (layer.id == host_.settings().on_layer && layer.start.scale != 0) {
      effect_start = static_cast<double>(layer.start.value) / layer.start.scale;
    }
  }
  const double comp_seconds = comp_time.scale == 0 ? 0.0 : static_cast<double>(comp_time.value) / comp_time.scale;
  const A_long current_time = static_cast<A_long>(std::llround((comp_seconds - effect_start) * comp.time_scale));
  return RenderFrame(current_time);
}

}  // namespace hostsim
