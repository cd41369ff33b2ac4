// The pixels the host lends for a render pass: the effect layer's input, the
// chosen layer's frames and the output world.

#include <cmath>
#include <cstdint>

#include "Downsampled.h"
#include "Host.h"
#include "pixels/PixelSource.h"
#include "pixels/WorldPool.h"

namespace hostsim {

namespace {

double Seconds(const A_Time& time) { return time.scale == 0 ? 0.0 : static_cast<double>(time.value) / time.scale; }

// Frame index of a layer-time instant. The small epsilon keeps an instant
// that is a frame boundary in exact arithmetic on that frame despite rounding.
A_long FrameIndexAt(double layer_seconds, double frame_rate) {
  const double index = std::floor(layer_seconds * frame_rate + 1e-6);
  if (!(index > -2147483648.0)) return index != index ? 0 : INT32_MIN;  // NaN: frame 0
  if (index >= 2147483647.0) return INT32_MAX;
  return static_cast<A_long>(index);
}

}  // namespace

std::unique_ptr<PixelWorld> Host::RenderLayerFrame(const LayerModel& layer, double comp_seconds,
                                                   A_long* frame_index) const {
  const double in_point = Seconds(layer.in_point);
  const double out_point = in_point + Seconds(layer.duration);
  if (!layer.source || comp_seconds < in_point - 1e-9 || comp_seconds >= out_point - 1e-9) return nullptr;
  *frame_index = FrameIndexAt(comp_seconds - Seconds(layer.start), layer.frame_rate);
  // Footage shorter than the layer shows nothing past its last frame, as a
  // real host does, rather than failing the checkout.
  const A_long frame_count = layer.source->frame_count();
  if (frame_count > 0 && (*frame_index < 0 || *frame_index >= frame_count)) return nullptr;
  // The source paints every pixel, so the pool need not zero the memory.
  std::unique_ptr<PixelWorld> frame =
      WorldPool::Shared().Take(Downsampled(layer.width, downsample_x_), Downsampled(layer.height, downsample_y_),
                               bit_depth_, WorldPool::Contents::kOverwritten);
  layer.source->DrawFrame(*frame_index, *frame);
  return frame;
}

std::unique_ptr<PixelWorld> Host::RenderInputFrame() const {
  const Size size = input_size();
  std::unique_ptr<PixelWorld> input = NewWorld(size.width, size.height);
  const LayerModel* layer = FindLayerById(settings_.on_layer);
  if (layer != nullptr && layer->source && composition_.time_scale != 0) {
    const double layer_seconds = static_cast<double>(current_time_) / composition_.time_scale;
    layer->source->DrawFrame(FrameIndexAt(layer_seconds, layer->frame_rate), *input);
  }
  return input;
}

bool Host::IsLentWorld(const PF_EffectWorld* world) const {
  auto lent = [world](const PixelWorld& candidate) {
    return world == &candidate.world() || (world->data != nullptr && world->data == candidate.world().data);
  };
  if (output_world_ && output_checked_out_ && lent(*output_world_)) return true;
  for (const auto& [id, pixels] : checked_out_layer_pixels_) {
    if (pixels && lent(*pixels)) return true;
  }
  for (const auto& [param, checkout] : checked_out_params_) {
    if (checkout.frame && lent(*checkout.frame)) return true;
  }
  return false;
}

}  // namespace hostsim
