#include "BenchScene.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "pixels/PixelSource.h"

namespace bench {
namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Leaves the world transparent black as the host made it: drawing a pattern
// is no part of what the effect costs, and a blank frame copies at the same
// speed as any other.
class BlankSource : public hostsim::PixelSource {
 public:
  void DrawFrame(A_long, hostsim::PixelWorld&) const override {}
  std::string Describe() const override { return "blank"; }
};

// The host's pixel callbacks, wrapped to add their time to the running
// frame's split. Benchmarks run on one thread, one rig at a time.
FrameSplit* g_split = nullptr;
PF_UtilCallbacks g_timed_utils;
decltype(PF_UtilCallbacks::copy) g_host_copy = nullptr;
decltype(PF_InteractCallbacks::checkout_param) g_host_checkout_param = nullptr;
decltype(PF_SmartRenderCallbacks::checkout_layer_pixels) g_host_checkout_layer_pixels = nullptr;

class Stopwatch {
 public:
  explicit Stopwatch(double FrameSplit::*field) : field_(field), start_(Clock::now()) {}
  ~Stopwatch() {
    if (g_split != nullptr) g_split->*field_ += SecondsSince(start_);
  }

 private:
  double FrameSplit::*field_;
  Clock::time_point start_;
};

PF_Err TimedCopy(PF_ProgPtr effect_ref, PF_EffectWorld* src, PF_EffectWorld* dst, PF_LRect* src_r,
                 PF_LRect* dst_r) {
  Stopwatch watch(&FrameSplit::copy);
  return g_host_copy(effect_ref, src, dst, src_r, dst_r);
}

// The chosen layer's frame is drawn inside the checkout.
PF_Err TimedCheckoutParam(PF_ProgPtr effect_ref, PF_ParamIndex index, A_long what_time, A_long time_step,
                          A_u_long time_scale, PF_ParamDef* param) {
  Stopwatch watch(&FrameSplit::lend);
  return g_host_checkout_param(effect_ref, index, what_time, time_step, time_scale, param);
}

PF_Err TimedCheckoutLayerPixels(PF_ProgPtr effect_ref, A_long checkout_id, PF_EffectWorld** pixels) {
  Stopwatch watch(&FrameSplit::lend);
  return g_host_checkout_layer_pixels(effect_ref, checkout_id, pixels);
}

hostsim::LayerModel BlankLayer(A_long id, A_long width, A_long height) {
  hostsim::LayerModel layer;
  layer.id = id;
  layer.name = "layer " + std::to_string(id);
  layer.width = width;
  layer.height = height;
  layer.in_point = {0, 30};
  layer.duration = {300, 30};
  layer.frame_rate = 30.0;
  layer.source = std::make_shared<BlankSource>();
  return layer;
}

}  // namespace

std::string ModulePath() {
  if (const char* path = std::getenv("TOVANE_MODULE"); path != nullptr && *path != '\0') return path;
#if defined(TOVANE_BENCH_MODULE_PATH)
  return TOVANE_BENCH_MODULE_PATH;
#else
  return std::string();
#endif
}

EffectRig::EffectRig(const hostsim::Module& module, const RigOptions& options) : host_(module), session_(host_) {
  hostsim::CompositionModel comp;
  comp.width = options.width;
  comp.height = options.height;
  comp.frame_rate = 30.0;
  comp.time_scale = 30;
  comp.layers.push_back(BlankLayer(1, options.width, options.height));
  comp.layers.push_back(BlankLayer(2, options.layer_width > 0 ? options.layer_width : options.width,
                                   options.layer_height > 0 ? options.layer_height : options.height));
  hostsim::EffectSettings settings;
  settings.on_layer = 1;
  settings.mode = options.mode;
  settings.layer = 2;
  settings.time_type = 1;
  settings.time_percent = 50;
  host_.SetScene(std::move(comp), settings);
  host_.SetBitDepth(options.depth);
  host_.trace().set_enabled(false);
  host_.SetSkipPixels(options.skip_pixels);
  if (session_.GlobalSetup() != PF_Err_NONE || session_.ParamsSetup() != PF_Err_NONE)
    throw std::runtime_error("global setup or params setup failed");
}

EffectRig::~EffectRig() { session_.GlobalSetdown(); }

FrameSplit EffectRig::RunFrame() {
  const A_long now = frame_++ % 300;
  if (!host_.skips_pixels()) return RunTimedFrame(now);
  FrameSplit split;
  const Clock::time_point start = Clock::now();
  const PF_Err err = RenderUntimed(now);
  split.total = SecondsSince(start);
  if (err != PF_Err_NONE) throw std::runtime_error("frame failed with error " + std::to_string(err));
  return split;
}

FrameSplit EffectRig::RunFrames(int count) {
  if (!host_.skips_pixels()) throw std::logic_error("batches of frames are timed only with pixels skipped");
  PF_Err err = PF_Err_NONE;
  const Clock::time_point start = Clock::now();
  for (int i = 0; i < count && err == PF_Err_NONE; ++i) err = RenderUntimed(frame_++ % 300);
  FrameSplit split;
  split.total = SecondsSince(start) / count;
  if (err != PF_Err_NONE) throw std::runtime_error("frame failed with error " + std::to_string(err));
  return split;
}

// The frame as Session::RenderFrame runs it, with nothing timed inside.
PF_Err EffectRig::RenderUntimed(A_long now) {
  PF_PreRenderOutput pre_output;
  std::memset(&pre_output, 0, sizeof(pre_output));
  PF_Err err = session_.SmartPreRender(now, &pre_output);
  if (err == PF_Err_NONE) err = session_.SmartRender(now, pre_output.pre_render_data, pre_output.result_rect);
  host_.FreePreRenderData(&pre_output);
  return err;
}

FrameSplit EffectRig::RunTimedFrame(A_long now) {
  FrameSplit split;
  g_split = &split;
  const Clock::time_point start = Clock::now();

  PF_PreRenderOutput pre_output;
  std::memset(&pre_output, 0, sizeof(pre_output));
  PF_Err err = session_.SmartPreRender(now, &pre_output);

  // The render pass as Session::SmartRender sends it, with the pixel
  // callbacks swapped for their timed wrappers.
  if (err == PF_Err_NONE) {
    {
      Stopwatch watch(&FrameSplit::lend);
      host_.BeginRenderPass(pre_output.result_rect);
    }
    PF_InData in_data = host_.NewInData(now);
    g_host_copy = in_data.utils->copy;
    g_timed_utils = *in_data.utils;
    g_timed_utils.copy = TimedCopy;
    in_data.utils = &g_timed_utils;
    g_host_checkout_param = in_data.inter.checkout_param;
    in_data.inter.checkout_param = TimedCheckoutParam;
    PF_SmartRenderCallbacks callbacks = *host_.smart_render_callbacks();
    g_host_checkout_layer_pixels = callbacks.checkout_layer_pixels;
    callbacks.checkout_layer_pixels = TimedCheckoutLayerPixels;

    PF_SmartRenderInput input;
    std::memset(&input, 0, sizeof(input));
    input.output_request = session_.output_request();
    input.bitdepth = static_cast<A_short>(host_.bit_depth());
    input.pre_render_data = pre_output.pre_render_data;
    PF_SmartRenderExtra extra{&input, &callbacks};
    PF_OutData out_data;
    std::memset(&out_data, 0, sizeof(out_data));
    PF_LayerDef output;
    std::memset(&output, 0, sizeof(output));
    err = host_.Send(PF_Cmd_SMART_RENDER, &in_data, &out_data, nullptr, &output, &extra);
  }
  host_.FreePreRenderData(&pre_output);
  split.total = SecondsSince(start);
  g_split = nullptr;
  if (err != PF_Err_NONE) throw std::runtime_error("frame failed with error " + std::to_string(err));
  return split;
}

std::map<std::string, int> EffectRig::CountHostCalls() {
  host_.trace().Clear();
  host_.trace().set_enabled(true);
  RunFrame();
  host_.trace().set_enabled(false);
  std::map<std::string, int> counts;
  for (const auto& entry : host_.trace().entries()) {
    if (entry.contains("call")) ++counts[entry["call"].get<std::string>()];
  }
  host_.trace().Clear();
  return counts;
}

}  // namespace bench
