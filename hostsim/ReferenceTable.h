// Opaque references the host hands out (effect references, stream
// references, stream values). Each is the address of an entry that the table
// owns, so a reference that comes back can be told from a stale or foreign one.
#pragma once

#include <map>
#include <memory>

namespace hostsim {

template <typename Record>
class ReferenceTable {
 public:
  // A new reference carrying `record`; `*id` receives its serial number.
  void* Issue(Record record) {
    auto entry = std::make_unique<Entry>(Entry{std::move(record), next_id_++});
    void* reference = entry.get();
    entries_.emplace(reference, std::move(entry));
    return reference;
  }

  // Null when the reference is not live.
  Record* Find(const void* reference) {
    auto found = entries_.find(reference);
    return found == entries_.end() ? nullptr : &found->second->record;
  }

  bool Dispose(const void* reference) { return entries_.erase(reference) != 0; }

  // Serial number for the trace (1, 2, ...); 0 when unknown.
  int Id(const void* reference) const {
    auto found = entries_.find(reference);
    return found == entries_.end() ? 0 : found->second->id;
  }

  int live_count() const { return static_cast<int>(entries_.size()); }
  void Clear() { entries_.clear(); }

 private:
  struct Entry {
    Record record;
    int id;
  };
  std::map<const void*, std::unique_ptr<Entry>> entries_;
  int next_id_ = 1;
};

}  // namespace hostsim
