// Opaque references the host hands out (effect references, stream
// references). Each is an address no other reference of this process ever
// takes (ReservedAddresses.h): a disposed reference's record is dropped,
// yet a stale reference that comes back is still told from a live one,
// and a foreign one finds nothing. Only live records are held and visited,
// so a long run's records and the cost of each call stay those of the
// references live at the time.
#pragma once

#include <unordered_map>
#include <utility>

#include "ReservedAddresses.h"
#include "TraceId.h"

namespace hostsim {

template <typename Record>
class ReferenceTable {
 public:
  // A new reference carrying `record`, named `id` in the trace, or by the
  // table's next serial number when `id` is none.
  void* Issue(Record record, TraceId id = {}) {
    const void* reference = NextReservedAddress();
    live_.emplace(reference, Entry{std::move(record), id.none() ? TraceId{0, next_id_++} : id});
    return const_cast<void*>(reference);
  }

  // Null when the reference is not live.
  Record* Find(const void* reference) {
    const auto found = live_.find(reference);
    return found != live_.end() ? &found->second.record : nullptr;
  }

  // False (and nothing done) for a reference that is not live.
  bool Dispose(const void* reference) { return live_.erase(reference) == 1; }

  // What the trace calls a reference; none when it is not live.
  TraceId Id(const void* reference) const {
    const auto found = live_.find(reference);
    return found != live_.end() ? found->second.id : TraceId{};
  }

  // Whether any live reference's record satisfies `predicate`.
  template <typename Predicate>
  bool AnyLive(Predicate predicate) const {
    for (const auto& [reference, entry] : live_) {
      if (predicate(entry.record)) return true;
    }
    return false;
  }

  int live_count() const { return static_cast<int>(live_.size()); }

 private:
  struct Entry {
    Record record;
    TraceId id;
  };

  std::unordered_map<const void*, Entry> live_;
  int next_id_ = 1;
};

}  // namespace hostsim
