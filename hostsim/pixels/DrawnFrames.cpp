#include "DrawnFrames.h"

#include <algorithm>
#include <atomic>
#include <limits>
#include <cstring>
#include <new>

namespace hostsim {
namespace {

// Frames remembered as painted once, without their pixels: enough for the
// layers of a scene being asked in turn.
constexpr std::size_t kPaintedOnceRemembered = 8;

// The bound all sources share, and what they keep now.
std::atomic<std::size_t> shared_max_bytes{std::numeric_limits<std::size_t>::max()};
std::atomic<std::size_t> shared_kept_bytes{0};

void CopyPixels(const PixelWorld& from, PixelWorld& to) {
  const std::size_t row = static_cast<std::size_t>(from.width()) * BytesPerPixel(from.depth());
  for (A_long y = 0; y < from.height(); ++y)
    std::memcpy(to.Row<unsigned char>(y), from.Row<unsigned char>(y), row);
}

}  // namespace

DrawnFrames::DrawnFrames(std::size_t max_bytes) : max_bytes_(max_bytes) {}

DrawnFrames::~DrawnFrames() { Release(kept_bytes_); }

void DrawnFrames::SetSharedMaxBytes(std::size_t bytes) { shared_max_bytes.store(bytes); }

bool DrawnFrames::Reserve(std::size_t bytes) {
  std::size_t kept = shared_kept_bytes.load();
  do {
    if (bytes > shared_max_bytes.load() || kept > shared_max_bytes.load() - bytes) return false;
  } while (!shared_kept_bytes.compare_exchange_weak(kept, kept + bytes));
  return true;
}

void DrawnFrames::Release(std::size_t bytes) { shared_kept_bytes.fetch_sub(bytes); }

DrawnFrames::Key DrawnFrames::KeyOf(A_long index, const PixelWorld& world) {
  return {index, world.width(), world.height(), world.depth()};
}

bool DrawnFrames::CopyKept(A_long index, PixelWorld& into) const {
  const Key key = KeyOf(index, into);
  std::shared_ptr<const PixelWorld> frame;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto it = std::find_if(kept_.begin(), kept_.end(), [&](const Kept& k) { return k.key == key; });
    if (it == kept_.end()) return false;
    std::rotate(kept_.begin(), it, it + 1);
    frame = kept_.front().frame;
  }
  CopyPixels(*frame, into);
  return true;
}

void DrawnFrames::Painted(A_long index, const PixelWorld& painted) {
  const Key key = KeyOf(index, painted);
  const std::size_t bytes = PixelWorld::ByteSize(key.width, key.height, key.depth);
  if (bytes == 0 || bytes > max_bytes_) return;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto once = std::find(painted_once_.begin(), painted_once_.end(), key);
    if (once == painted_once_.end()) {
      painted_once_.insert(painted_once_.begin(), key);
      if (painted_once_.size() > kPaintedOnceRemembered) painted_once_.pop_back();
      return;
    }
    painted_once_.erase(once);
  }
  // Counted before it is allocated, so that sources drawing at once cannot
  // together pass the shared bound; given back if it is not kept after all.
  if (!Reserve(bytes)) return;
  std::shared_ptr<PixelWorld> copy;
  try {
    copy = std::make_shared<PixelWorld>(key.width, key.height, key.depth);
  } catch (const std::bad_alloc&) {
    Release(bytes);
    return;  // keeping is only a saving
  }
  CopyPixels(painted, *copy);
  const std::lock_guard<std::mutex> lock(mutex_);
  // Another thread may have kept the same frame meanwhile: the same pixels.
  if (std::any_of(kept_.begin(), kept_.end(), [&](const Kept& k) { return k.key == key; })) {
    Release(bytes);
    return;
  }
  kept_.insert(kept_.begin(), Kept{key, std::move(copy)});
  kept_bytes_ += bytes;
  while (kept_bytes_ > max_bytes_) {
    const Kept& oldest = kept_.back();
    const std::size_t oldest_bytes = PixelWorld::ByteSize(oldest.key.width, oldest.key.height, oldest.key.depth);
    kept_bytes_ -= oldest_bytes;
    Release(oldest_bytes);
    kept_.pop_back();
  }
}

std::size_t DrawnFrames::kept_bytes() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return kept_bytes_;
}

}  // namespace hostsim
