#include "HandleTable.h"

namespace hostsim {

PF_Handle HandleTable::New(std::size_t size) {
  auto block = std::make_unique<Block>();
  // One byte at least, so that even an empty handle has distinct bytes.
  block->storage = std::make_unique<unsigned char[]>(size == 0 ? 1 : size);
  block->bytes = block->storage.get();
  block->size = size;
  block->id = next_id_++;
  PF_Handle handle = &block->bytes;
  blocks_.emplace(handle, std::move(block));
  return handle;
}

bool HandleTable::Lock(PF_Handle handle, void** bytes) {
  auto found = blocks_.find(handle);
  if (found == blocks_.end()) return false;
  ++found->second->locks;
  *bytes = found->second->bytes;
  return true;
}

bool HandleTable::Unlock(PF_Handle handle) {
  auto found = blocks_.find(handle);
  if (found == blocks_.end()) return false;
  if (found->second->locks > 0) --found->second->locks;
  return true;
}

bool HandleTable::Dispose(PF_Handle handle) { return blocks_.erase(handle) != 0; }

bool HandleTable::Size(PF_Handle handle, std::size_t* size) const {
  auto found = blocks_.find(handle);
  if (found == blocks_.end()) return false;
  *size = found->second->size;
  return true;
}

int HandleTable::Id(PF_Handle handle) const {
  auto found = blocks_.find(handle);
  return found == blocks_.end() ? 0 : found->second->id;
}

}  // namespace hostsim
