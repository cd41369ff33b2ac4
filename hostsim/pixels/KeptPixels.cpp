#include "KeptPixels.h"

#include <algorithm>
#include <cstddef>

#include "DrawnFrames.h"
#include "WorldPool.h"

namespace hostsim {

void KeepPixelsWithin(std::uint64_t bytes) {
  const std::uint64_t half = bytes / 2;
  WorldPool::Shared().SetMaxKeptBytes(
      static_cast<std::size_t>(std::min<std::uint64_t>(half, WorldPool::kDefaultMaxKeptBytes)));
  DrawnFrames::SetSharedMaxBytes(static_cast<std::size_t>(half));
}

}  // namespace hostsim
