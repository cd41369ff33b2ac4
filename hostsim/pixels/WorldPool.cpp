#include "WorldPool.h"

#include <cstring>
#include <utility>

#include "PoisonedMemory.h"

namespace hostsim {

namespace {

std::size_t PixelBytes(const PixelWorld& world) {
  return static_cast<std::size_t>(world.world().rowbytes) * static_cast<std::size_t>(world.height());
}

void SetPoisoned(PixelWorld& world, bool poisoned) {
  SetKeptMemoryPoisoned(world.world().data, PixelBytes(world), poisoned);
}

bool Fits(const PixelWorld& world, A_long width, A_long height, BitDepth depth) {
  return world.width() == width && world.height() == height && world.depth() == depth &&
         static_cast<std::size_t>(world.world().rowbytes) == static_cast<std::size_t>(width) * BytesPerPixel(depth);
}

}  // namespace

WorldPool::~WorldPool() {
  // The memory goes back to the allocator unpoisoned.
  for (std::unique_ptr<PixelWorld>& world : kept_) SetPoisoned(*world, false);
}

std::unique_ptr<PixelWorld> WorldPool::Take(A_long width, A_long height, BitDepth depth, bool clear) {
  for (std::size_t at = kept_.size(); at-- > 0;) {
    if (!Fits(*kept_[at], width, height, depth)) continue;
    std::unique_ptr<PixelWorld> world = std::move(kept_[at]);
    // Usually the most recently given, so nothing moves.
    std::move(kept_.begin() + static_cast<std::ptrdiff_t>(at) + 1, kept_.end(),
              kept_.begin() + static_cast<std::ptrdiff_t>(at));
    kept_.pop_back();
    SetPoisoned(*world, false);
    if (clear && world->world().data != nullptr) std::memset(world->world().data, 0, PixelBytes(*world));
    return world;
  }
  return std::make_unique<PixelWorld>(width, height, depth);
}

void WorldPool::Give(std::unique_ptr<PixelWorld> world) {
  if (!world || capacity_ == 0) return;
  if (kept_.size() == capacity_) {
    SetPoisoned(*kept_.front(), false);
    kept_.erase(kept_.begin());
  }
  SetPoisoned(*world, true);
  kept_.push_back(std::move(world));
}

}  // namespace hostsim
