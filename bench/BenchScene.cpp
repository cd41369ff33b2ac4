#include "BenchScene.h"

#include <cstdlib>
#include <stdexcept>

#include "pixels/PixelSource.h"

namespace bench {
namespace {

// Transparent black: drawing a pattern is no part of what the effect costs,
// and a blank frame copies at the same speed as any other. Painted all the
// same, since the host lends layer frames from memory it does not clear.
class BlankSource : public hostsim::PixelSource {
 public:
  std::string Describe() const override { return "blank"; }

 protected:
  void Paint(A_long, hostsim::PixelWorld& into) const override { into.Fill({0, 0, 0, 0}); }
};

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
  namespace controls = hostsim::controls;
  hostsim::EffectSettings settings;
  settings.on_layer = 1;
  settings.controls = {{controls::kMode, options.mode},
                       {controls::kLayer, 2},
                       {controls::kTimeType, controls::kPercent},
                       {controls::kTimePercent, 50}};
  host_.SetScene(std::move(comp), settings);
  host_.SetBitDepth(options.depth);
  host_.trace().set_enabled(false);
  if (session_.GlobalSetup() != PF_Err_NONE || session_.ParamsSetup() != PF_Err_NONE)
    throw std::runtime_error("global setup or params setup failed");
}

EffectRig::~EffectRig() { session_.GlobalSetdown(); }

void EffectRig::RunFrames(int count) {
  for (int i = 0; i < count; ++i) {
    const hostsim::FrameResult frame = session_.RenderFrame(frame_++ % 300);
    if (frame.error() != PF_Err_NONE) throw std::runtime_error("frame failed with error " + std::to_string(frame.error()));
  }
}

std::map<std::string, int> EffectRig::CountHostCalls() {
  host_.trace().Clear();
  host_.trace().set_enabled(true);
  RunFrames(1);
  host_.trace().set_enabled(false);
  std::map<std::string, int> counts;
  for (const auto& entry : host_.trace().entries()) {
    if (entry.contains("call")) ++counts[entry["call"].get<std::string>()];
  }
  host_.trace().Clear();
  return counts;
}

}  // namespace bench
