// Frames a layer source has painted, kept so that a frame asked for again is
// copied instead of painted pixel by pixel: a still layer, or a layer held on
// one frame ("Time(%)" fixed), is asked for the same frame at every frame of
// a render, and painting it took about a fifth of a 1080p render.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

#include "A_Types.h"
#include "PixelWorld.h"

namespace hostsim {

class DrawnFrames {
 public:
  // At most `max_bytes` of pixels are kept; the frames used longest ago go
  // first, and a frame larger than the bound is never kept.
  explicit DrawnFrames(std::size_t max_bytes = kDefaultMaxBytes);
  ~DrawnFrames();
  DrawnFrames(const DrawnFrames&) = delete;
  DrawnFrames& operator=(const DrawnFrames&) = delete;

  // What the sources of the whole process keep together, at most, beside
  // each one's own bound (by default the only one): a scene may have any
  // number of sources. Set before any thread draws.
  static void SetSharedMaxBytes(std::size_t bytes);

  // When frame `index` at into's size and depth is kept, copies it over the
  // whole of `into` and returns true; otherwise returns false.
  bool CopyKept(A_long index, PixelWorld& into) const;

  // Notes that `painted` is frame `index`, freshly painted. It is kept when
  // the same frame was painted before and not kept then: a frame asked for
  // once (a sequence played through) costs no copy, one asked for again
  // probably will be asked for more.
  void Painted(A_long index, const PixelWorld& painted);

  std::size_t kept_bytes() const;

  // Two 1080p float frames, or eight at 8 bits.
  static constexpr std::size_t kDefaultMaxBytes = std::size_t{64} << 20;

 private:
  struct Key {
    A_long index, width, height;
    BitDepth depth;
    bool operator==(const Key& other) const {
      return index == other.index && width == other.width && height == other.height && depth == other.depth;
    }
  };
  struct Kept {
    Key key;
    std::shared_ptr<const PixelWorld> frame;
  };
  static Key KeyOf(A_long index, const PixelWorld& world);
  // Counts `bytes` against the shared bound, or returns false when they
  // would pass it; Release gives them back.
  static bool Reserve(std::size_t bytes);
  static void Release(std::size_t bytes);

  const std::size_t max_bytes_;
  // Several layers and threads may draw from one source. Pixels are copied
  // outside the lock; a kept frame is never written after it is kept.
  mutable std::mutex mutex_;
  mutable std::vector<Kept> kept_;  // most recently used first
  std::vector<Key> painted_once_;   // most recent first, a few
  std::size_t kept_bytes_ = 0;
};

}  // namespace hostsim
