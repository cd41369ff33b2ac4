#include "HandleTable.h"

namespace hostsim {

PF_Handle HandleTable::New(std::size_t size) {
  auto block = std::make_unique<Block>();
  // One byte at least, so that even an empty handle has distinct bytes.
  block->storage.assign(size == 0 ? 1 : size, 0);
  block->bytes = block->storage.data();
  block->size = size;
  block->id = next_id_++;
  // The host's handle type points at a pointer of its own type to the bytes.
  PF_Handle handle = reinterpret_cast<PF_Handle>(&block->bytes);
  blocks_.emplace(handle, std::move(block));
  ++live_count_;
  return handle;
}

HandleTable::Block* HandleTable::Live(PF_Handle handle) const {
  auto found = blocks_.find(handle);
  return found != blocks_.end() && found->second->live ? found->second.get() : nullptr;
}

bool HandleTable::Lock(PF_Handle handle, void** bytes) {
  Block* block = Live(handle);
  if (block == nullptr) return false;
  ++block->locks;
  *bytes = block->bytes;
  return true;
}

bool HandleTable::Unlock(PF_Handle handle) {
  Block* block = Live(handle);
  if (block == nullptr) return false;
  if (block->locks > 0) --block->locks;
  return true;
}

bool HandleTable::Dispose(PF_Handle handle) {
  Block* block = Live(handle);
  if (block == nullptr) return false;
  block->live = false;
  block->bytes = nullptr;
  std::vector<unsigned char>().swap(block->storage);
  --live_count_;
  return true;
}

bool HandleTable::Size(PF_Handle handle, std::size_t* size) const {
  const Block* block = Live(handle);
  if (block == nullptr) return false;
  *size = block->size;
  return true;
}

int HandleTable::Id(PF_Handle handle) const {
  const Block* block = Live(handle);
  return block == nullptr ? 0 : block->id;
}

}  // namespace hostsim
