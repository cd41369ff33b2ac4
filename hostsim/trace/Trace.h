// The call trace: every host function the module calls, in order, with its
// arguments by name and its result, and one entry per command.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace hostsim {

class Trace {
 public:
  // Benchmarks switch tracing off; recording then costs one branch.
  void set_enabled(bool enabled) { enabled_ = enabled; }
  bool enabled() const { return enabled_; }

  void Add(nlohmann::ordered_json entry);
  void Clear() { entries_.clear(); }
  // The entries, leaving the trace empty.
  std::vector<nlohmann::ordered_json> TakeEntries() {
    std::vector<nlohmann::ordered_json> taken = std::move(entries_);
    entries_.clear();
    return taken;
  }

  const std::vector<nlohmann::ordered_json>& entries() const { return entries_; }

  // One JSON object per line, through JsonText; how many entries held text
  // that had to be replaced.
  std::size_t WriteJsonLines(std::ostream& out) const;

  // Call entries (those with "call") of one host function, in order.
  std::vector<nlohmann::ordered_json> Calls(const std::string& call) const;

  // Call entries made during the most recent command, i.e. after the
  // command entry before the last one and up to the last command entry.
  std::vector<nlohmann::ordered_json> CallsOfLastCommand() const;

  // Names of the calls of the most recent command, in order.
  std::vector<std::string> CallNamesOfLastCommand() const;

 private:
  bool enabled_ = true;
  std::vector<nlohmann::ordered_json> entries_;
};

// Writes the traces one after the other as JSON Lines to `path`, through a
// temporary file renamed over it (FileAccess.h). Throws FileAccessError.
// Returns how many entries held text that had to be replaced (JsonText.h).
std::size_t WriteTraceFile(const std::string& path, const std::vector<const Trace*>& traces);

}  // namespace hostsim
