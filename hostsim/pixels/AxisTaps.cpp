#include "AxisTaps.h"

#include <algorithm>
#include <cmath>

namespace hostsim {

void AxisTaps(std::int64_t src_lo, std::int64_t src_len, std::int64_t dst_len, std::int64_t i, A_long world_len,
              std::vector<Tap>& taps, double& total) {
  taps.clear();
  const double scale = static_cast<double>(src_len) / static_cast<double>(dst_len);
  const std::int64_t src_last = src_lo + src_len - 1;
  if (src_len <= dst_len) {
    const double p = static_cast<double>(src_lo) + (static_cast<double>(i) + 0.5) * scale - 0.5;
    const double base = std::floor(p);
    const double f = p - base;
    const auto i0 = static_cast<std::int64_t>(base);
    const std::int64_t k[2] = {std::clamp(i0, src_lo, src_last), std::clamp(i0 + 1, src_lo, src_last)};
    const double w[2] = {1.0 - f, f};
    for (int n = 0; n < 2; ++n)
      if (w[n] > 0.0 && k[n] >= 0 && k[n] < world_len) taps.push_back({static_cast<A_long>(k[n]), w[n]});
    total = 1.0;
    return;
  }
  const double a = static_cast<double>(src_lo) + static_cast<double>(i) * scale;
  const double b = static_cast<double>(src_lo) + static_cast<double>(i + 1) * scale;
  total = b - a;
  const std::int64_t first = std::max<std::int64_t>(static_cast<std::int64_t>(std::floor(a)), 0);
  const std::int64_t end = std::min<std::int64_t>(static_cast<std::int64_t>(std::ceil(b)), world_len);
  for (std::int64_t k = first; k < end; ++k) {
    const double w = std::min(b, static_cast<double>(k + 1)) - std::max(a, static_cast<double>(k));
    if (w > 0.0) taps.push_back({static_cast<A_long>(k), w});
  }
}

}  // namespace hostsim
