#include "HandleTable.h"

namespace hostsim {

PF_Handle HandleTable::New(std::size_t size, TraceId id) {
  Block block;
  // One byte at least, so that even an empty handle has distinct bytes.
  block.storage.assign(size == 0 ? 1 : size, 0);
  block.size = size;
  block.id = id.none() ? TraceId{0, next_id_++} : id;
  slots_.push_back(block.storage.data());  // a vector's buffer stays put when the vector is moved
  // The host's handle type points at a pointer of its own type to the bytes.
  PF_Handle handle = reinterpret_cast<PF_Handle>(&slots_.back());
  live_.emplace(handle, std::move(block));
  return handle;
}

HandleTable::Block* HandleTable::Live(PF_Handle handle) const {
  auto found = live_.find(handle);
  return found != live_.end() ? const_cast<Block*>(&found->second) : nullptr;
}

bool HandleTable::Lock(PF_Handle handle, void** bytes) {
  Block* block = Live(handle);
  if (block == nullptr) return false;
  ++block->locks;
  *bytes = *handle;
  return true;
}

bool HandleTable::Unlock(PF_Handle handle) {
  Block* block = Live(handle);
  if (block == nullptr) return false;
  if (block->locks > 0) --block->locks;
  return true;
}

bool HandleTable::Dispose(PF_Handle handle) {
  if (Live(handle) == nullptr) return false;
  *handle = nullptr;
  live_.erase(handle);
  return true;
}

bool HandleTable::Size(PF_Handle handle, std::size_t* size) const {
  const Block* block = Live(handle);
  if (block == nullptr) return false;
  *size = block->size;
  return true;
}

TraceId HandleTable::Id(PF_Handle handle) const {
  const Block* block = Live(handle);
  return block == nullptr ? TraceId{} : block->id;
}

}  // namespace hostsim
