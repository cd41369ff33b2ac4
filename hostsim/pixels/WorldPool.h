// Pixel memory kept between frames. A render makes the same worlds every
// frame (the input, the layer's frame, the output); asking the system for
// them anew each time costs a page fault and a zeroing by the kernel per
// page, then a zeroing here, which together took about two fifths of a
// 1080p render. The pool keeps the memory of destroyed worlds and hands it
// to the next world of the same byte size, zeroed only where the caller
// needs it zeroed.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "PixelWorld.h"

namespace hostsim {

class WorldPool {
 public:
  // What the caller will find in a world it takes.
  enum class Contents {
    kZeroed,       // transparent black, as a new PixelWorld
    kOverwritten,  // whatever the memory last held: the caller writes every pixel
  };

  // Idle memory beyond `max_kept_bytes` is freed when a world gives it back.
  explicit WorldPool(std::size_t max_kept_bytes = kDefaultMaxKeptBytes);
  ~WorldPool();
  WorldPool(const WorldPool&) = delete;
  WorldPool& operator=(const WorldPool&) = delete;

  // A world of packed rows. Its memory comes back to this pool when the
  // world is destroyed, on any thread, even after the pool itself is gone
  // (then it is freed). Throws as PixelWorld's constructor does.
  std::unique_ptr<PixelWorld> Take(A_long width, A_long height, BitDepth depth, Contents contents) const;

  // Changes the bound on idle memory; idle memory beyond a lowered bound is
  // freed at once.
  void SetMaxKeptBytes(std::size_t max_kept_bytes) const;

  // Idle memory held now, for tests and figures.
  std::size_t kept_bytes() const;

  // The pool the substitute host's worlds come from, one for the process so
  // that frames rendered by different hosts or threads share it.
  static WorldPool& Shared();

  // A 4K float frame's three worlds and some: enough for the worlds of one
  // frame at any size a scene uses, and for two workers at 1080p.
  static constexpr std::size_t kDefaultMaxKeptBytes = std::size_t{512} << 20;

 private:
  class Shelf;
  std::shared_ptr<Shelf> shelf_;
};

}  // namespace hostsim
