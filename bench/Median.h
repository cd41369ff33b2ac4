// The median of timings: on a shared machine a few samples are preempted for
// whole time slices, and the median shows what the work itself costs.
#pragma once

#include <algorithm>
#include <vector>

namespace bench {

inline double Median(std::vector<double> values) {
  std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
  return values[values.size() / 2];
}

}  // namespace bench
