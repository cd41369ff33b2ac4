// Opaque references the host hands out (effect references, stream
// references). Each is the address of an entry that the table owns, so a
// reference that comes back can be told from a stale or foreign one.
#pragma once

#include <utility>

#include "RecordSlab.h"

namespace hostsim {

template <typename Record>
class ReferenceTable {
 public:
  // A new reference carrying `record`.
  void* Issue(Record record) { return &slab_.Issue(std::move(record)); }

  // Null when the reference is not live.
  Record* Find(const void* reference) {
    Entry* entry = Live(reference);
    return entry != nullptr ? &entry->record : nullptr;
  }

  bool Dispose(const void* reference) { return slab_.Dispose(Live(reference)); }

  // Serial number for the trace (1, 2, ...); 0 when unknown.
  int Id(const void* reference) const {
    const Entry* entry = const_cast<ReferenceTable*>(this)->Live(reference);
    return entry != nullptr ? entry->id : 0;
  }

  int live_count() const { return slab_.live_count(); }

 private:
  using Entry = typename RecordSlab<Record>::Entry;

  // The live entry whose address the reference is; a pointer into the
  // middle of one is not a reference.
  Entry* Live(const void* reference) {
    Entry* entry = slab_.Find(reference);
    return entry == reference ? entry : nullptr;
  }

  RecordSlab<Record> slab_;
};

}  // namespace hostsim
