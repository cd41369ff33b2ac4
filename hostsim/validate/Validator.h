// `tovane-host validate`: a catalogue of named checks that load a build of
// the effect module and throw at it what a host can: every command in every
// order, every host call failing in turn, extreme parameter values and scene
// geometry, several threads at once. Each check says what it checks in a
// sentence, ends as pass, fail, skip or crash, and on failure names exactly
// what differed.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

namespace hostsim {
class Module;
}

namespace hostsim::validate {

enum class Outcome { kPass, kFail, kSkip, kCrash, kTimeout };
const char* OutcomeName(Outcome outcome);

struct CheckInfo {
  std::string id;           // kebab-case, stable: scripts and tests name checks by it
  std::string description;  // one sentence a plug-in developer understands
};

// Every check, in the order they run.
const std::vector<CheckInfo>& Catalogue();

struct CheckResult {
  std::string id;
  std::string description;
  Outcome outcome = Outcome::kPass;
  std::string summary;                // what the check did, e.g. how many call sites it swept
  std::vector<std::string> failures;  // one sentence per difference
  std::string skip_reason;
  nlohmann::ordered_json data = nlohmann::ordered_json::object();  // the figures behind the summary
  double seconds = 0;
};

struct Options {
  static constexpr std::uint32_t kDefaultSeed = 20261208;

  std::string module_path;
  std::uint32_t seed = kDefaultSeed;
  std::vector<std::string> only;                            // run just these ids (all when empty)
  std::vector<std::pair<std::string, std::string>> skip;    // id and the reason it is left out
  // Runs each check, and each case within it that can crash, in a child
  // process, so a crash or a hang becomes a result naming the check or case
  // instead of ending the run (POSIX only; Windows runs all in one process).
  bool isolate = true;
  // How long one check may run in its child before it is ended as timed out.
  int check_timeout_seconds = 600;
  // How much each randomised check does.
  int frames = 64;
  int fuzz_cases = 120;
  int threads = 4;
};

struct Report {
  std::string module_path;
  std::uint32_t seed = 0;
  std::vector<CheckResult> results;

  bool Passed() const;  // no check failed, crashed or timed out
  int Count(Outcome outcome) const;
  nlohmann::ordered_json ToJson() const;
  // One line per check, the failures indented below it, and a verdict line.
  void PrintText(std::ostream& out) const;
};

// Loads the module and runs the catalogue (or the checks `options` selects).
Report Validate(const Options& options);

// One check against an already loaded module, in this process.
CheckResult RunCheck(const std::string& id, const Module& module, const Options& options);

}  // namespace hostsim::validate
