#include "WorldPool.h"

#include <cstring>
#include <utility>

#if defined(__SANITIZE_ADDRESS__)
#define TOVANE_POOL_POISONS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TOVANE_POOL_POISONS 1
#endif
#endif
#if defined(TOVANE_POOL_POISONS)
#include <sanitizer/asan_interface.h>
#endif

namespace hostsim {

namespace {

std::size_t PixelBytes(const PixelWorld& world) {
  return static_cast<std::size_t>(world.world().rowbytes) * static_cast<std::size_t>(world.height());
}

void SetPoisoned(PixelWorld& world, bool poisoned) {
#if defined(TOVANE_POOL_POISONS)
  if (world.world().data == nullptr) return;
  if (poisoned) {
    ASAN_POISON_MEMORY_REGION(world.world().data, PixelBytes(world));
  } else {
    ASAN_UNPOISON_MEMORY_REGION(world.world().data, PixelBytes(world));
  }
#else
  (void)world;
  (void)poisoned;
#endif
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
  for (auto it = kept_.rbegin(); it != kept_.rend(); ++it) {
    if (!Fits(**it, width, height, depth)) continue;
    std::unique_ptr<PixelWorld> world = std::move(*it);
    kept_.erase(std::next(it).base());
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
