// A control's value over composition time, as a scene sets it: one constant,
// or keyframes. Between two keys a slider moves linearly unless the first
// key holds; popups and layer choices always hold (the caller says which
// kind it asks for). Before the first key the first value holds, after the
// last the last.
#pragma once

#include <vector>

namespace hostsim {

struct Keyframe {
  double seconds = 0;  // composition time
  double value = 0;
  bool hold = false;  // keep this value until the next key
};

class AnimatedValue {
 public:
  AnimatedValue() : AnimatedValue(0.0) {}
  // A constant is one key; implicit, so that a constant reads as a value.
  AnimatedValue(double constant) : keys_{Keyframe{0.0, constant, true}} {}
  // Keys in strictly increasing time; at least one.
  explicit AnimatedValue(std::vector<Keyframe> keys) : keys_(std::move(keys)) {}

  // The value at a composition time; `interpolates` for a slider.
  double At(double comp_seconds, bool interpolates) const;

  bool IsConstant() const { return keys_.size() == 1; }
  const std::vector<Keyframe>& keys() const { return keys_; }

 private:
  std::vector<Keyframe> keys_;
};

}  // namespace hostsim
