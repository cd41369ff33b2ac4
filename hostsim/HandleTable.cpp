#include "HandleTable.h"

#include <cstring>
#include <utility>

#include "PoisonedMemory.h"

namespace hostsim {

namespace {

// One byte at least, so that even an empty handle has distinct bytes.
std::size_t StorageBytes(std::size_t size) { return size == 0 ? 1 : size; }

}  // namespace

HandleTable::~HandleTable() {
  // The spares go back to the allocator unpoisoned.
  for (Spare& spare : spares_) SetKeptMemoryPoisoned(spare.storage.get(), spare.bytes, false);
}

PF_Handle HandleTable::New(std::size_t size) {
  Block block;
  block.storage = TakeStorage(StorageBytes(size));
  block.bytes = block.storage.get();
  block.size = size;
  return HandleOf(blocks_.Issue(std::move(block)));
}

std::unique_ptr<unsigned char[]> HandleTable::TakeStorage(std::size_t bytes) {
  for (std::size_t at = spare_count_; at-- > 0;) {
    if (spares_[at].bytes != bytes) continue;
    std::unique_ptr<unsigned char[]> storage = std::move(spares_[at].storage);
    spares_[at] = std::move(spares_[--spare_count_]);
    SetKeptMemoryPoisoned(storage.get(), bytes, false);
    std::memset(storage.get(), 0, bytes);
    return storage;
  }
  return std::make_unique<unsigned char[]>(bytes);
}

void HandleTable::KeepStorage(std::unique_ptr<unsigned char[]> storage, std::size_t bytes) {
  if (bytes > kLargestSpare) return;
  std::size_t at = spare_count_;
  if (at == spares_.size()) {
    at = 0;  // all places taken: the new spare replaces the first
    SetKeptMemoryPoisoned(spares_[at].storage.get(), spares_[at].bytes, false);
  } else {
    ++spare_count_;
  }
  SetKeptMemoryPoisoned(storage.get(), bytes, true);
  spares_[at] = Spare{std::move(storage), bytes};
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

bool HandleTable::Dispose(PF_Handle handle) {
  Entry* entry = Live(handle);
  if (entry == nullptr) return false;
  KeepStorage(std::move(entry->record.storage), StorageBytes(entry->record.size));
  return blocks_.Dispose(entry);
}

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
