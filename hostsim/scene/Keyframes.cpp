#include "Keyframes.h"

#include <algorithm>

namespace hostsim {

double AnimatedValue::At(double comp_seconds, bool interpolates) const {
  if (keys_.empty()) return 0.0;
  // The first key later than the time asked; the key before it is in force.
  const auto later = std::upper_bound(keys_.begin(), keys_.end(), comp_seconds,
                                      [](double t, const Keyframe& key) { return t < key.seconds; });
  if (later == keys_.begin()) return keys_.front().value;
  const Keyframe& from = *(later - 1);
  if (later == keys_.end() || from.hold || !interpolates) return from.value;
  const Keyframe& to = *later;
  const double progress = (comp_seconds - from.seconds) / (to.seconds - from.seconds);
  return from.value + (to.value - from.value) * progress;
}

}  // namespace hostsim
