// Host memory handed out through the handle suite. A handle points at the
// pointer to its bytes, so dereferencing it once gives the bytes; the table
// knows every live handle and recognises anything else as foreign.
#pragma once

#include <cstddef>
#include <map>
#include <memory>

#include "PF_HandleSuite.h"

namespace hostsim {

class HandleTable {
 public:
  HandleTable() = default;
  HandleTable(const HandleTable&) = delete;
  HandleTable& operator=(const HandleTable&) = delete;

  // A new zero-filled handle of `size` bytes.
  PF_Handle New(std::size_t size);

  bool Contains(PF_Handle handle) const { return blocks_.count(handle) != 0; }

  // These return false (and do nothing) for a handle the table does not know.
  bool Lock(PF_Handle handle, void** bytes);
  bool Unlock(PF_Handle handle);
  bool Dispose(PF_Handle handle);
  bool Size(PF_Handle handle, std::size_t* size) const;

  // The serial number the trace uses for a handle (1, 2, ...), 0 when unknown.
  int Id(PF_Handle handle) const;

  int live_count() const { return static_cast<int>(blocks_.size()); }
  template <typename Visit>
  void ForEach(Visit visit) const {
    for (const auto& [handle, block] : blocks_) visit(handle);
  }

 private:
  struct Block {
    void* bytes = nullptr;  // the handle's address is &bytes
    std::unique_ptr<unsigned char[]> storage;
    std::size_t size = 0;
    int locks = 0;
    int id = 0;
  };
  std::map<PF_Handle, std::unique_ptr<Block>> blocks_;
  int next_id_ = 1;
};

}  // namespace hostsim
