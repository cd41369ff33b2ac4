// What every check works with: the loaded module, a random source derived
// from the seed, and the place where it records what differed.
#pragma once

#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "Session.h"
#include "EffectControls.h"
#include "Validator.h"

namespace hostsim::validate {

class CheckContext {
 public:
  CheckContext(const Module& module, const Options& options, const std::string& id);

  const Module& module() const { return module_; }
  const Options& options() const { return options_; }
  // Seeded from the run's seed and the check's id, so a check draws the same
  // values whichever checks run before it.
  std::mt19937& random() { return random_; }
  std::uint32_t seed() const { return seed_; }

  // Notes one difference; the check fails.
  void Fail(const std::string& what);
  void Skip(const std::string& reason);
  void Summary(const std::string& text) { result_.summary = text; }
  nlohmann::ordered_json& data() { return result_.data; }
  bool failed() const { return !result_.failures.empty(); }

  CheckResult& result() { return result_; }

 private:
  const Module& module_;
  const Options& options_;
  std::uint32_t seed_;
  std::mt19937 random_;
  CheckResult result_;
};

// ---- Running a case in a child process ----------------------------------

// What an isolated case reports: its failures, and anything else as data.
struct CaseOutcome {
  bool crashed = false;
  bool timed_out = false;  // crashed because it ran past its time, and was ended
  std::string crash;  // "killed by signal 11 (Segmentation fault)", "timed out after 120 s"
  std::vector<std::string> failures;
  nlohmann::ordered_json data = nlohmann::ordered_json::object();
};

// Runs `body` in a forked child where the platform allows and `isolate` is
// set, in this process otherwise. The body appends to the outcome's
// failures and data; a crash or hang of the child is reported, not suffered.
// A child still running after `timeout_seconds` is killed with every process
// it started.
CaseOutcome RunCase(bool isolate, const std::string& what, const std::function<void(CaseOutcome&)>& body,
                    int timeout_seconds = 120);

// ---- Shared descriptions ---------------------------------------------------

// "1st", "2nd", "3rd", "4th", ...
std::string Ordinal(int n);
std::string CommandName(PF_Cmd cmd);
std::string RectText(const PF_LRect& rect);
// What the host still holds for the module, in one line ("1 effect reference, ...").
std::string HeldText(const Holdings& held);

// Misuse the host noticed, joined into one sentence each, then cleared.
std::vector<std::string> TakeMisuse(Host& host);

// After a command: the module holds nothing but the handles the host keeps
// for it, and used the host correctly. Appends to `failures` what is wrong,
// each sentence starting with `what`.
// With `global_handle_stays`, a handle the host no longer tracks as global
// data is not counted either: a setdown that failed could not free it.
void ExpectCleanCommand(Host& host, const std::string& what, std::vector<std::string>& failures,
                        bool global_handle_stays = false);

// ---- The standard scene ---------------------------------------------------

// Layer ids of the standard scene.
enum : A_long { kEffectLayer = 1, kCardLayer = 2, kOtherSizeLayer = 3, kEmptyLayer = 4 };
// The side of a checker square on the effect layer, in pixels.
constexpr A_long kEffectLayerCheckerCell = 8;

// A small composition (96 x 54 at 30 fps, time scale 30) with the effect on
// layer 1 (a checker), layer 2 of 64 x 36 frame cards (in-point 2 s, 10 s),
// layer 3 of 40 x 100 gradient (in-point 0, 4 s, starting at -1 s), and
// layer 4 that has no pixels. Sizes stay small so thousands of renders are cheap.
CompositionModel StandardComposition();
EffectSettings StandardSettings(A_long chosen_layer);

// Global setup and params setup; false (with failures noted) when either fails.
bool SetUpEffect(Session& session, std::vector<std::string>& failures);
// The same, with failures reported to the check.
bool SetUpEffect(Session& session, CheckContext& ctx);

}  // namespace hostsim::validate
