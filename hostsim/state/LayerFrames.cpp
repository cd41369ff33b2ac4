// The pixels the host lends for a render pass: the effect layer's input, the
// chosen layer's frames and fresh worlds.

#include <cmath>
#include <cstdint>

#include "Downsampled.h"
#include "HostState.h"
#include "PixelSource.h"
#include "WorldPool.h"

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

std::unique_ptr<PixelWorld> HostState::NewWorld(A_long width, A_long height) const {
  // Memory comes back from worlds already given back: a render's frames
  // reuse it instead of faulting fresh pages in and zeroing them again.
  return WorldPool::Shared().Take(width, height, scene.depth, WorldPool::Contents::kZeroed);
}

std::unique_ptr<PixelWorld> HostState::RenderLayerFrame(const LayerModel& layer, double comp_seconds,
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
      WorldPool::Shared().Take(Downsampled(layer.width, scene.downsample_x), Downsampled(layer.height, scene.downsample_y),
                               scene.depth, WorldPool::Contents::kOverwritten);
  layer.source->DrawFrame(*frame_index, *frame);
  return frame;
}

std::unique_ptr<PixelWorld> HostState::RenderInputFrame() const {
  std::unique_ptr<PixelWorld> input = NewWorld(input_width(), input_height());
  const LayerModel* layer = FindLayerById(scene.settings.on_layer);
  if (layer != nullptr && layer->source && scene.composition.time_scale != 0) {
    const double layer_seconds = static_cast<double>(command.current_time) / scene.composition.time_scale;
    layer->source->DrawFrame(FrameIndexAt(layer_seconds, layer->frame_rate), *input);
  }
  return input;
}

}  // namespace hostsim
