#include "WorldPool.h"

#include <cstring>
#include <iterator>

namespace hostsim {

// Idle blocks by byte size. One mutex guards them: taking and giving back
// are a map lookup each, against milliseconds of work on the pixels.
class WorldPool::Shelf : public PixelMemoryKeeper {
 public:
  explicit Shelf(std::size_t max_kept_bytes) : max_kept_bytes_(max_kept_bytes) {}
  ~Shelf() override {
    for (auto& [bytes, blocks] : idle_)
      for (unsigned char* block : blocks) delete[] block;
  }

  // An idle block of exactly `bytes`, or null.
  unsigned char* Take(std::size_t bytes) {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto it = idle_.find(bytes);
    if (it == idle_.end() || it->second.empty()) return nullptr;
    unsigned char* block = it->second.back();
    it->second.pop_back();
    kept_bytes_ -= bytes;
    return block;
  }

  void TakeBack(unsigned char* memory, std::size_t bytes) noexcept override {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      if (kept_bytes_ + bytes <= max_kept_bytes_) {
        try {
          idle_[bytes].push_back(memory);
          kept_bytes_ += bytes;
          return;
        } catch (...) {
          // No room to note it: freed below, as any block over the limit.
        }
      }
    }
    delete[] memory;
  }

  std::size_t kept_bytes() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return kept_bytes_;
  }

  void SetMaxKeptBytes(std::size_t max_kept_bytes) {
    std::vector<unsigned char*> freed;
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      max_kept_bytes_ = max_kept_bytes;
      for (auto it = idle_.begin(); it != idle_.end() && kept_bytes_ > max_kept_bytes_;) {
        while (!it->second.empty() && kept_bytes_ > max_kept_bytes_) {
          freed.push_back(it->second.back());
          it->second.pop_back();
          kept_bytes_ -= it->first;
        }
        it = it->second.empty() ? idle_.erase(it) : std::next(it);
      }
    }
    for (unsigned char* block : freed) delete[] block;
  }

 private:
  std::size_t max_kept_bytes_;
  mutable std::mutex mutex_;
  std::map<std::size_t, std::vector<unsigned char*>> idle_;
  std::size_t kept_bytes_ = 0;
};

WorldPool::WorldPool(std::size_t max_kept_bytes) : shelf_(std::make_shared<Shelf>(max_kept_bytes)) {}

WorldPool::~WorldPool() = default;

std::unique_ptr<PixelWorld> WorldPool::Take(A_long width, A_long height, BitDepth depth, Contents contents) const {
  const std::size_t bytes = PixelWorld::ByteSize(width, height, depth);
  if (bytes == 0) return std::make_unique<PixelWorld>(width, height, depth);
  unsigned char* block = shelf_->Take(bytes);
  if (block == nullptr) {
    // Fresh memory from new[]() is zeroed once, by the value-initialisation.
    block = new unsigned char[bytes]();
  } else if (contents == Contents::kZeroed) {
    std::memset(block, 0, bytes);
  }
  PixelMemory memory(block, PixelMemoryRelease{shelf_, bytes});
  return std::make_unique<PixelWorld>(width, height, depth, std::move(memory));
}

std::size_t WorldPool::kept_bytes() const { return shelf_->kept_bytes(); }

void WorldPool::SetMaxKeptBytes(std::size_t max_kept_bytes) const { shelf_->SetMaxKeptBytes(max_kept_bytes); }

WorldPool& WorldPool::Shared() {
  static WorldPool pool;
  return pool;
}

}  // namespace hostsim
