// Pixel worlds with picture-like content for the copy benchmarks: smooth
// ramps with a little grain and a soft-edged translucent band, so filtering
// sees varied alpha and colour the way it does on real footage.
#pragma once

#include <cstdint>
#include <memory>

#include "PixelWorld.h"

namespace bench {

inline std::unique_ptr<hostsim::PixelWorld> PictureWorld(A_long width, A_long height, hostsim::BitDepth depth) {
  auto world = std::make_unique<hostsim::PixelWorld>(width, height, depth);
  std::uint32_t grain = 12345;
  for (A_long y = 0; y < height; ++y) {
    for (A_long x = 0; x < width; ++x) {
      grain = grain * 1664525u + 1013904223u;
      const float noise = static_cast<float>(grain >> 24) / 255.0f * 0.04f;
      const float u = static_cast<float>(x) / static_cast<float>(width);
      const float v = static_cast<float>(y) / static_cast<float>(height);
      // Alpha ramps from opaque to clear across a band a fifth of the width.
      float alpha = 1.0f;
      if (u > 0.6f) alpha = u > 0.8f ? 0.0f : (0.8f - u) / 0.2f;
      world->Set(x, y, {alpha, u * 0.9f + noise, v * 0.9f + noise, (1.0f - u) * 0.5f + v * 0.4f + noise});
    }
  }
  return world;
}

inline std::unique_ptr<hostsim::PixelWorld> BlankWorld(A_long width, A_long height, hostsim::BitDepth depth) {
  return std::make_unique<hostsim::PixelWorld>(width, height, depth);
}

}  // namespace bench
