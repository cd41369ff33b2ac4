// Opaque references the host hands out (effect references, stream
// references). Each is the address of an entry the table owns. A disposed
// entry is kept, marked disposed, for the table's life, so no later
// reference takes its address: a stale reference that comes back is always
// told from a live one, and a foreign one finds nothing.
#pragma once

#include <map>
#include <memory>
#include <utility>

namespace hostsim {

template <typename Record>
class ReferenceTable {
 public:
  // A new reference carrying `record`.
  void* Issue(Record record) {
    auto entry = std::make_unique<Entry>(Entry{std::move(record), next_id_++, true});
    void* reference = entry.get();
    entries_.emplace(reference, std::move(entry));
    ++live_count_;
    return reference;
  }

  // Null when the reference is not live.
  Record* Find(const void* reference) {
    Entry* entry = Live(reference);
    return entry != nullptr ? &entry->record : nullptr;
  }

  // False (and nothing done) for a reference that is not live.
  bool Dispose(const void* reference) {
    Entry* entry = Live(reference);
    if (entry == nullptr) return false;
    entry->live = false;
    entry->record = Record{};
    --live_count_;
    return true;
  }

  // Serial number for the trace (1, 2, ...); 0 when not live.
  int Id(const void* reference) const {
    const Entry* entry = const_cast<ReferenceTable*>(this)->Live(reference);
    return entry != nullptr ? entry->id : 0;
  }

  // Whether any live reference's record satisfies `predicate`.
  template <typename Predicate>
  bool AnyLive(Predicate predicate) const {
    for (const auto& [reference, entry] : entries_) {
      if (entry->live && predicate(entry->record)) return true;
    }
    return false;
  }

  int live_count() const { return live_count_; }

 private:
  struct Entry {
    Record record;
    int id;
    bool live;
  };

  Entry* Live(const void* reference) {
    auto found = entries_.find(reference);
    return found != entries_.end() && found->second->live ? found->second.get() : nullptr;
  }

  std::map<const void*, std::unique_ptr<Entry>> entries_;
  int next_id_ = 1;
  int live_count_ = 0;
};

}  // namespace hostsim
