// The records behind what the host hands the module and counts: handles
// (here), effect and stream references (ReferenceTable.h) and what the
// module holds at one moment (Holdings.h).
//
// Host memory handed out through the handle suite. A handle points at the
// pointer to its bytes, so dereferencing it once gives the bytes. A disposed
// handle's bytes are freed but its record is kept, marked disposed, for the
// table's life: no later handle takes its address, so a stale handle that
// comes back is always reported, and anything the table never issued is
// foreign.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <vector>

#include "PF_HandleSuite.h"

namespace hostsim {

class HandleTable {
 public:
  // A new zero-filled handle of `size` bytes.
  PF_Handle New(std::size_t size);

  bool Contains(PF_Handle handle) const { return Live(handle) != nullptr; }

  // These return false (and do nothing) for a handle that is not live.
  bool Lock(PF_Handle handle, void** bytes);
  bool Unlock(PF_Handle handle);
  bool Dispose(PF_Handle handle);
  bool Size(PF_Handle handle, std::size_t* size) const;

  // The serial number the trace uses for a handle (1, 2, ...), 0 when not live.
  int Id(PF_Handle handle) const;

  int live_count() const { return live_count_; }

 private:
  struct Block {
    void* bytes = nullptr;  // the handle's address is &bytes
    std::vector<unsigned char> storage;
    std::size_t size = 0;
    int locks = 0;
    int id = 0;
    bool live = true;
  };

  Block* Live(PF_Handle handle) const;

  std::map<PF_Handle, std::unique_ptr<Block>> blocks_;
  int next_id_ = 1;
  int live_count_ = 0;
};

}  // namespace hostsim
