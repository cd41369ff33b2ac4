// How much memory a command may set aside for what its input asks for: the
// worlds of a composition, the resources copied out of a module. Checked
// before allocating, so an input that would need more is refused with a
// message instead of ending the process when the allocation fails.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace hostsim {

class MemoryBudgetError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct MemoryBudget {
  static constexpr std::uint64_t kDefaultMiB = 2048;
  static constexpr std::uint64_t kBytesPerMiB = std::uint64_t{1} << 20;

  std::uint64_t bytes = kDefaultMiB * kBytesPerMiB;

  // Throws naming `what` and both figures when `need` exceeds the budget.
  void Require(std::uint64_t need, const std::string& what) const {
    if (need <= bytes) return;
    throw MemoryBudgetError(what + " would need " + std::to_string((need + kBytesPerMiB - 1) / kBytesPerMiB) +
                            " MiB, more than the memory budget of " + std::to_string(bytes / kBytesPerMiB) +
                            " MiB (--memory-budget)");
  }
};

}  // namespace hostsim
