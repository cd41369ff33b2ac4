// Pixel worlds the host lends again instead of freeing: a render pass
// borrows three (the effect layer's input, the chosen layer's frame, the
// output) and the next frame usually wants the same sizes. Reusing them
// saves the allocation, the page faults of fresh memory and, above all, the
// unmapping of large blocks, which would otherwise happen inside the
// effect's check-in calls.
//
// In builds with AddressSanitizer the pixels of a kept world are poisoned,
// so an effect that writes through a world after giving it back is still
// caught.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "PixelWorld.h"

namespace hostsim {

class WorldPool {
 public:
  // Keeps at most `capacity` worlds, dropping the least recently given.
  explicit WorldPool(std::size_t capacity = 4) : capacity_(capacity) {}
  ~WorldPool();
  WorldPool(const WorldPool&) = delete;
  WorldPool& operator=(const WorldPool&) = delete;

  // A world of this size and depth without row padding: a kept one when one
  // matches, else a new one. It is transparent black, unless `clear` is
  // false and it was kept, when its pixels are whatever they were (for a
  // host that does no pixel work). Throws what PixelWorld throws.
  std::unique_ptr<PixelWorld> Take(A_long width, A_long height, BitDepth depth, bool clear = true);

  // Keeps a world for a later Take; null is ignored.
  void Give(std::unique_ptr<PixelWorld> world);

  std::size_t kept() const { return kept_.size(); }

 private:
  std::size_t capacity_;
  std::vector<std::unique_ptr<PixelWorld>> kept_;  // least recently given first
};

}  // namespace hostsim
