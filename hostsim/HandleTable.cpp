#include "HandleTable.h"

namespace hostsim {

PF_Handle HandleTable::New(std::size_t size) {
  Block block;
  // One byte at least, so that even an empty handle has distinct bytes.
  block.storage = std::make_unique<unsigned char[]>(size == 0 ? 1 : size);
  block.bytes = block.storage.get();
  block.size = size;
  return HandleOf(blocks_.Issue(std::move(block)));
}

bool HandleTable::Lock(PF_Handle handle, void** bytes) {
  Entry* entry = Live(handle);
  if (entry == nullptr) return false;
  ++entry->record.locks;
  *bytes = entry->record.bytes;
  return true;
}

bool HandleTable::Unlock(PF_Handle handle) {
  Entry* entry = Live(handle);
  if (entry == nullptr) return false;
  if (entry->record.locks > 0) --entry->record.locks;
  return true;
}

bool HandleTable::Dispose(PF_Handle handle) { return blocks_.Dispose(Live(handle)); }

bool HandleTable::Size(PF_Handle handle, std::size_t* size) const {
  const Entry* entry = Live(handle);
  if (entry == nullptr) return false;
  *size = entry->record.size;
  return true;
}

int HandleTable::Id(PF_Handle handle) const {
  const Entry* entry = Live(handle);
  return entry == nullptr ? 0 : entry->id;
}

}  // namespace hostsim
