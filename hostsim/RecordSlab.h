// Storage for the records behind the opaque things the host hands out
// (handles, effect and stream references), at addresses that stay put and
// can be checked when they come back.
//
// Records live in fixed blocks that are freed only with the slab, so telling
// whether an address is one of ours is a range test rather than a tree
// look-up, and issuing one allocates nothing once a block has room. A
// disposed record's place is reused only after kQuarantine later disposals:
// a stale reference the module hands back soon after disposing of it still
// finds nothing live, instead of finding whatever took its place.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

namespace hostsim {

template <typename Record>
class RecordSlab {
 public:
  struct Entry {
    Record record{};
    int id = 0;  // serial number, 1 for the first record issued
    bool live = false;
  };

  RecordSlab() = default;
  RecordSlab(const RecordSlab&) = delete;
  RecordSlab& operator=(const RecordSlab&) = delete;

  // A live entry holding `record`, with the next serial number.
  Entry& Issue(Record record) {
    Entry* entry = nullptr;
    if (disposed_count_ > kQuarantine) {
      entry = disposed_[disposed_first_];
      disposed_first_ = (disposed_first_ + 1) % kRingSize;
      --disposed_count_;
    } else {
      if (blocks_.empty() || used_in_last_block_ == kBlockSize) {
        blocks_.push_back(std::make_unique<Entry[]>(kBlockSize));
        used_in_last_block_ = 0;
      }
      entry = &blocks_.back()[used_in_last_block_++];
    }
    entry->record = std::move(record);
    entry->id = next_id_++;
    entry->live = true;
    ++live_count_;
    return *entry;
  }

  // The live entry that `address` points into (at any offset), or null.
  Entry* Find(const void* address) {
    const auto at = reinterpret_cast<std::uintptr_t>(address);
    for (const std::unique_ptr<Entry[]>& block : blocks_) {
      const auto first = reinterpret_cast<std::uintptr_t>(block.get());
      if (at < first || at >= first + kBlockSize * sizeof(Entry)) continue;
      Entry& entry = block[(at - first) / sizeof(Entry)];
      return entry.live ? &entry : nullptr;
    }
    return nullptr;
  }
  const Entry* Find(const void* address) const { return const_cast<RecordSlab*>(this)->Find(address); }

  // Ends a live entry; its record is reset to a default one. False (and
  // nothing done) for an entry that is not live.
  bool Dispose(Entry* entry) {
    if (entry == nullptr || !entry->live) return false;
    entry->live = false;
    entry->record = Record{};
    disposed_[(disposed_first_ + disposed_count_) % kRingSize] = entry;
    ++disposed_count_;
    if (disposed_count_ == kRingSize) {
      // A run of disposals with no issue between them: the oldest stays
      // disposed and is never reused, which only costs its place.
      disposed_first_ = (disposed_first_ + 1) % kRingSize;
      --disposed_count_;
    }
    --live_count_;
    return true;
  }

  int live_count() const { return live_count_; }

 private:
  static constexpr std::size_t kBlockSize = 64;
  static constexpr std::size_t kQuarantine = 32;
  // Room for one entry past the quarantine, which Issue takes, and a spare
  // slot so that a run of disposals never fills the ring.
  static constexpr std::size_t kRingSize = kQuarantine + 2;

  std::vector<std::unique_ptr<Entry[]>> blocks_;
  std::size_t used_in_last_block_ = 0;
  // Disposed entries waiting out the quarantine, oldest first, in a ring.
  std::array<Entry*, kRingSize> disposed_{};
  std::size_t disposed_first_ = 0;
  std::size_t disposed_count_ = 0;
  int next_id_ = 1;
  int live_count_ = 0;
};

}  // namespace hostsim
