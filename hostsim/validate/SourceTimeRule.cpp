#include "SourceTimeRule.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <sstream>

#include "EffectControls.h"

namespace hostsim::validate {

namespace {

constexpr long double kLowest = std::numeric_limits<A_long>::min();
constexpr long double kHighest = std::numeric_limits<A_long>::max();

A_long Saturated(long double ticks) {
  if (std::isnan(ticks)) return 0;
  if (ticks <= kLowest) return std::numeric_limits<A_long>::min();
  if (ticks >= kHighest) return std::numeric_limits<A_long>::max();
  return static_cast<A_long>(ticks);
}

// The layer's duration without its last frame, in seconds, never below 0.
// A frame rate of 0 makes one frame endless, so nothing is left; what is
// left is a host time again, so it saturates at 32 bits (a negative rate
// lengthens the duration).
long double PlayableSeconds(const A_Time& duration, double frame_rate) {
  // The quotient as the host's rate gives it, in double: at a rate such as
  // 1.6 the exact quotient of the stored rate lies just below a whole tick.
  const long double frame_ticks = std::trunc(static_cast<double>(duration.scale) / frame_rate);
  const long double left = std::min(static_cast<long double>(duration.value) - frame_ticks, kHighest);
  if (!(left > 0)) return 0;
  return left / static_cast<long double>(duration.scale);
}

// The exact source time, in ticks of the command's time scale.
long double ExactTicks(const SourceTimeInputs& in) {
  long double offset = 0;
  if (in.time_type == controls::kPercent) {
    offset = PlayableSeconds(in.duration, in.frame_rate) * (in.percent_fixed / 65536.0L) / 100.0L;
  } else if (in.time_type == controls::kSecond) {
    offset = in.seconds;
  }
  const long double in_point = static_cast<long double>(in.in_point.value) / in.in_point.scale;
  return (in_point + offset) * in.time_scale;
}

}  // namespace

TickRange SourceTimeTicks(const SourceTimeInputs& in) {
  const long double exact = ExactTicks(in);
  if (std::isnan(exact)) return {0, 0};
  // A little slack for the double arithmetic an effect does the sum in.
  const long double slack = 1e-6L + std::fabs(exact) * 1e-12L;
  const long double above = exact < -0.5L ? 1.5L : 0.5L;
  return {Saturated(std::ceil(exact - 0.5L - slack)), Saturated(std::floor(exact + above + slack))};
}

std::string SourceTimeFault(const SourceTimeInputs& in, const A_Time& asked) {
  const TickRange range = SourceTimeTicks(in);
  if (asked.scale == in.time_scale && asked.value >= range.low && asked.value <= range.high) return "";
  std::ostringstream why;
  why << "asked for the composition time " << asked.value << "/" << asked.scale << " instead of ";
  if (range.low == range.high) {
    why << range.low;
  } else {
    why << range.low << " to " << range.high;
  }
  why << "/" << in.time_scale << " (in-point " << in.in_point.value << "/" << in.in_point.scale << ", duration "
      << in.duration.value << "/" << in.duration.scale << ", " << in.frame_rate << " fps, Time Type "
      << in.time_type << ", Time(%) " << in.percent_fixed << "/65536, Time(sec) " << in.seconds << ")";
  return why.str();
}

}  // namespace hostsim::validate
