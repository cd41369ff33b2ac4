// Host memory handed out through the handle suite. A handle points at the
// pointer to its bytes, so dereferencing it once gives the bytes; the table
// knows every live handle and recognises anything else as foreign.
#pragma once

#include <cstddef>
#include <memory>

#include "PF_HandleSuite.h"
#include "RecordSlab.h"

namespace hostsim {

class HandleTable {
 public:
  HandleTable() = default;
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

  mutable RecordSlab<Block> blocks_;
};

}  // namespace hostsim
