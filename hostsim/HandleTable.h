// Host memory handed out through the handle suite. A handle points at the
// pointer to its bytes, so dereferencing it once gives the bytes; the table
// knows every live handle and recognises anything else as foreign.
#pragma once

#include <array>
#include <cstddef>
#include <memory>

#include "PF_HandleSuite.h"
#include "RecordSlab.h"

namespace hostsim {

class HandleTable {
 public:
  HandleTable() = default;
  ~HandleTable();
  HandleTable(const HandleTable&) = delete;
  HandleTable& operator=(const HandleTable&) = delete;

  // A new zero-filled handle of `size` bytes.
  PF_Handle New(std::size_t size);

  bool Contains(PF_Handle handle) const { return Live(handle) != nullptr; }

  // These return false (and do nothing) for a handle the table does not know.
  bool Lock(PF_Handle handle, void** bytes);
  bool Unlock(PF_Handle handle);
  bool Dispose(PF_Handle handle);
  bool Size(PF_Handle handle, std::size_t* size) const;

  // The serial number the trace uses for a handle (1, 2, ...), 0 when unknown.
  int Id(PF_Handle handle) const;

  int live_count() const { return blocks_.live_count(); }

 private:
  struct Block {
    void* bytes = nullptr;  // the handle's address is &bytes
    std::unique_ptr<unsigned char[]> storage;
    std::size_t size = 0;
    int locks = 0;
  };
  using Entry = RecordSlab<Block>::Entry;

  static PF_Handle HandleOf(const Entry& entry) { return const_cast<void**>(&entry.record.bytes); }
  // The live block whose handle this is, or null.
  Entry* Live(PF_Handle handle) const {
    Entry* entry = blocks_.Find(handle);
    return entry != nullptr && HandleOf(*entry) == handle ? entry : nullptr;
  }

  // Storage for a new handle: a spare of exactly this many bytes, zeroed,
  // or fresh memory.
  std::unique_ptr<unsigned char[]> TakeStorage(std::size_t bytes);
  // Keeps a disposed handle's storage as a spare, dropping another spare
  // when all places are taken; frees storage above kLargestSpare.
  void KeepStorage(std::unique_ptr<unsigned char[]> storage, std::size_t bytes);

  mutable RecordSlab<Block> blocks_;

  // The storage of disposed handles, kept for new handles of the same size:
  // every frame makes and disposes of a pre-render handle, and the
  // allocator's round trip cost about as much as two host calls. Only small
  // storage is kept, so that large handles go back to the allocator.
  static constexpr std::size_t kLargestSpare = 64 * 1024;
  struct Spare {
    std::unique_ptr<unsigned char[]> storage;
    std::size_t bytes = 0;
  };
  std::array<Spare, 4> spares_;
  std::size_t spare_count_ = 0;  // spares_[0, spare_count_) hold storage
};

}  // namespace hostsim
