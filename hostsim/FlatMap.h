// A map kept as an unordered vector of pairs, for the host's bookkeeping of
// what one command has out at a time (parameter checkouts, layer pixels,
// stream values): a few entries, looked up by linear search. Erasing keeps
// the vector's capacity, so once a render pass has run, the next ones
// allocate nothing. Order is not kept: erasing moves the last entry into the
// gap.
#pragma once

#include <utility>
#include <vector>

namespace hostsim {

template <typename Key, typename Value>
class FlatMap {
 public:
  using Entry = std::pair<Key, Value>;
  using iterator = typename std::vector<Entry>::iterator;
  using const_iterator = typename std::vector<Entry>::const_iterator;

  iterator begin() { return entries_.begin(); }
  iterator end() { return entries_.end(); }
  const_iterator begin() const { return entries_.begin(); }
  const_iterator end() const { return entries_.end(); }
  std::size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }

  // A plain loop rather than std::find_if, whose unrolling by four costs
  // more than it saves on maps this small.
  iterator find(const Key& key) {
    iterator it = entries_.begin();
    while (it != entries_.end() && !(it->first == key)) ++it;
    return it;
  }
  const_iterator find(const Key& key) const { return const_cast<FlatMap*>(this)->find(key); }
  std::size_t count(const Key& key) const { return find(key) != end() ? 1 : 0; }

  // The value of `key`, added value-initialised when absent.
  Value& operator[](const Key& key) {
    iterator found = find(key);
    if (found != end()) return found->second;
    entries_.emplace_back(key, Value());
    return entries_.back().second;
  }

  // Adds an entry for a key the map does not hold; the caller has checked.
  Value& emplace_new(const Key& key, Value&& value) {
    entries_.emplace_back(key, std::move(value));
    return entries_.back().second;
  }

  // Invalidates iterators to the erased entry and to the last one.
  void erase(iterator position) {
    if (position != entries_.end() - 1) *position = std::move(entries_.back());
    entries_.pop_back();
  }
  std::size_t erase(const Key& key) {
    iterator found = find(key);
    if (found == end()) return 0;
    erase(found);
    return 1;
  }
  void clear() { entries_.clear(); }

 private:
  std::vector<Entry> entries_;
};

}  // namespace hostsim
