// The records behind what the host hands the module and counts: handles
// (here), effect and stream references (ReferenceTable.h) and what the
// module holds at one moment (Holdings.h).
//
// Host memory handed out through the handle suite. A handle points at the
// pointer to its bytes, so dereferencing it once gives the bytes. A disposed
// handle's bytes and record are freed; only that pointer stays, set to null,
// for the table's life (its 8 bytes are all a disposed handle costs): no
// later handle takes its address, so a stale handle that comes back is
// always reported, and anything the table never issued is foreign. Only
// live records are looked up.
#pragma once

#include <cstddef>
#include <deque>
#include <unordered_map>
#include <vector>

#include "PF_HandleSuite.h"
#include "TraceId.h"

namespace hostsim {

class HandleTable {
 public:
  // A new zero-filled handle of `size` bytes, named `id` in the trace, or
  // by the table's next serial number when `id` is none.
  PF_Handle New(std::size_t size, TraceId id = {});

  bool Contains(PF_Handle handle) const { return Live(handle) != nullptr; }

  // These return false (and do nothing) for a handle that is not live.
  bool Lock(PF_Handle handle, void** bytes);
  bool Unlock(PF_Handle handle);
  bool Dispose(PF_Handle handle);
  bool Size(PF_Handle handle, std::size_t* size) const;

  // What the trace calls a handle; none when it is not live.
  TraceId Id(PF_Handle handle) const;

  int live_count() const { return static_cast<int>(live_.size()); }

 private:
  struct Block {
    std::vector<unsigned char> storage;
    std::size_t size = 0;
    int locks = 0;
    TraceId id;
  };

  Block* Live(PF_Handle handle) const;

  // The pointers handles point at, one per handle ever issued; a deque
  // never moves them as it grows.
  std::deque<void*> slots_;
  std::unordered_map<PF_Handle, Block> live_;
  int next_id_ = 1;
};

}  // namespace hostsim
