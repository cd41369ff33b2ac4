#include "Validator.h"

#include <algorithm>
#include <chrono>
#include <ostream>

#include "CheckContext.h"
#include "Checks.h"
#include "Module.h"

namespace hostsim::validate {

namespace {

using CheckFunction = void (*)(CheckContext&);

struct Entry {
  CheckInfo info;
  CheckFunction run;
};

const std::vector<Entry>& Entries() {
  static const std::vector<Entry> entries = {
      {{"ignored-commands",
        "Commands the effect does not handle (the classic render among them, and codes above 24 or negative) "
        "return 0, call nothing and leave the output record as it was"},
       CheckIgnoredCommands},
      {{"lifecycle-order",
        "Global setup, params setup, update-params-UI after each parameter change, About, a frame and global "
        "setdown each return 0, announce and declare what the host expects, and leave nothing held"},
       CheckLifecycleOrder},
      {{"property-list-agrees",
        "The version and flag words global setup announces equal those of the module's property list"},
       CheckPropertyList},
      {{"render-sequence",
        "Pre-render/render pairs of many frames, in random order of modes, time types, 8/16/32-bit depths and "
        "downsample factors, between visibility updates: every pass returns 0, asks for the whole input, copies "
        "rectangles with each mode's properties (size kept and centred, inside and fitted at the frame's aspect, "
        "covering at the frame's aspect, or stretched) from the source time the timing gives, and leaves nothing held"},
       CheckRenderSequence},
      {{"worked-examples",
        "Frames of common and odd sizes placed by each mode, and the source time of each timing, each equal to "
        "its worked example to the pixel and the tick"},
       CheckWorkedExamples},
      {{"fault-sweep",
        "Every host call made on the normal runs of every handler fails in turn: the command returns the code "
        "it is meant to, does not crash, and leaves nothing held"},
       CheckFaultSweep},
      {{"suite-refusal",
        "Every suite each handler acquires is refused in turn, with an error and as a null suite, and the basic "
        "suite is missing: the command returns 516 and gives back every suite it did acquire"},
       CheckSuiteRefusal},
      {{"parameter-fuzz",
        "Random and extreme parameter values and scene geometry (popups outside their lists, sliders at and "
        "beyond their ends, layers from 0 x 0 to 8192 x 8192, zero and negative in-points and durations, frame "
        "rate 0, time scales 1 to 2^31-1): no crash, and rectangles and source times with the properties of "
        "render-sequence"},
       CheckParameterFuzz},
      {{"concurrent-render",
        "Several threads render different frames on one loaded module at once, each pre-rendering two frames "
        "before rendering them, with every render pass inside the effect at the same moment: every frame "
        "equals its render alone on one thread"},
       CheckConcurrentRender},
      {{"host-answers",
        "The rarer answers a host may give (a maximum rectangle wider than the result, a zero-height or "
        "zero-width frame with pixel memory, success with no world, a print callback that does not cut the "
        "text), each in turn over About and a frame in every mode: no crash, nothing held, no misuse"},
       CheckHostAnswers},
  };
  return entries;
}

const char* kModuleLoads = "module-loads";

nlohmann::ordered_json ResultData(const CheckResult& r) {
  return {{"outcome", static_cast<int>(r.outcome)}, {"summary", r.summary},  {"failures", r.failures},
          {"skip_reason", r.skip_reason},           {"data", r.data},        {"seconds", r.seconds}};
}

// A check in a child process, so that a module that crashes or hangs in
// some command ends that check, named, rather than the whole run.
CheckResult RunCheckIsolated(const Entry& entry, const Module& module, const Options& options) {
  const CaseOutcome outcome =
      RunCase(options.isolate, entry.info.id,
              [&](CaseOutcome& out) { out.data = ResultData(RunCheck(entry.info.id, module, options)); },
              options.check_timeout_seconds);
  CheckResult result;
  result.id = entry.info.id;
  result.description = entry.info.description;
  if (outcome.crashed) {
    result.outcome = outcome.timed_out ? Outcome::kTimeout : Outcome::kCrash;
    result.failures.push_back(entry.info.id + ": the module " +
                              (outcome.timed_out ? "did not return: " : "crashed the check: ") + outcome.crash);
    return result;
  }
  if (!outcome.failures.empty()) {
    result.outcome = Outcome::kFail;
    result.failures = outcome.failures;
    return result;
  }
  const nlohmann::ordered_json& d = outcome.data;
  result.outcome = static_cast<Outcome>(d.at("outcome").get<int>());
  result.summary = d.at("summary").get<std::string>();
  result.failures = d.at("failures").get<std::vector<std::string>>();
  result.skip_reason = d.at("skip_reason").get<std::string>();
  result.data = d.at("data");
  result.seconds = d.at("seconds").get<double>();
  return result;
}

}  // namespace

const char* OutcomeName(Outcome outcome) {
  switch (outcome) {
    case Outcome::kPass: return "pass";
    case Outcome::kFail: return "fail";
    case Outcome::kSkip: return "skip";
    case Outcome::kCrash: return "crash";
    case Outcome::kTimeout: return "timeout";
  }
  return "?";
}

const std::vector<CheckInfo>& Catalogue() {
  static const std::vector<CheckInfo> catalogue = [] {
    std::vector<CheckInfo> all = {{kModuleLoads, "The module opens with this platform's loader and exports EntryPointFunc"}};
    for (const Entry& entry : Entries()) all.push_back(entry.info);
    return all;
  }();
  return catalogue;
}

CheckResult RunCheck(const std::string& id, const Module& module, const Options& options) {
  const auto started = std::chrono::steady_clock::now();
  CheckContext ctx(module, options, id);
  const auto found = std::find_if(Entries().begin(), Entries().end(), [&](const Entry& e) { return e.info.id == id; });
  if (found == Entries().end()) {
    ctx.Fail("no check has the id \"" + id + "\"");
    return ctx.result();
  }
  ctx.result().description = found->info.description;
  try {
    found->run(ctx);
  } catch (const std::exception& failure) {
    ctx.Fail(std::string("the check stopped with an exception: ") + failure.what());
  }
  CheckResult result = ctx.result();
  if (result.outcome == Outcome::kPass && !result.failures.empty()) result.outcome = Outcome::kFail;
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  return result;
}

Report Validate(const Options& options) {
  Report report;
  report.module_path = options.module_path;
  report.seed = options.seed;

  auto skipped = [&](const std::string& id, std::string* reason) {
    for (const auto& [skip_id, skip_reason] : options.skip) {
      if (skip_id == id) {
        *reason = skip_reason.empty() ? "left out on request" : skip_reason;
        return true;
      }
    }
    if (!options.only.empty() && std::find(options.only.begin(), options.only.end(), id) == options.only.end()) {
      *reason = "not selected";
      return true;
    }
    return false;
  };
  auto info_of = [](const std::string& id) {
    for (const CheckInfo& info : Catalogue()) {
      if (info.id == id) return info;
    }
    return CheckInfo{id, ""};
  };

  CheckResult loads;
  loads.id = kModuleLoads;
  loads.description = info_of(kModuleLoads).description;
  // A module can crash the loader (its own initialisers run in it), so it is
  // opened in a child first and here only once that went well.
  const CaseOutcome trial = RunCase(options.isolate, kModuleLoads, [&](CaseOutcome& out) {
    try {
      const Module trial_module(options.module_path);
    } catch (const std::exception& failure) {
      out.failures.push_back(failure.what());
    }
  },
                                    options.check_timeout_seconds);
  std::unique_ptr<Module> module;
  if (trial.crashed) {
    loads.outcome = trial.timed_out ? Outcome::kTimeout : Outcome::kCrash;
    loads.failures.push_back("loading the module " + trial.crash);
  } else if (!trial.failures.empty()) {
    loads.outcome = Outcome::kFail;
    loads.failures = trial.failures;
  } else {
    try {
      module = std::make_unique<Module>(options.module_path);
      loads.summary = options.module_path;
    } catch (const std::exception& failure) {
      loads.outcome = Outcome::kFail;
      loads.failures.push_back(failure.what());
    }
  }
  report.results.push_back(loads);

  for (const Entry& entry : Entries()) {
    std::string reason;
    if (skipped(entry.info.id, &reason) || !module) {
      CheckResult result;
      result.id = entry.info.id;
      result.description = entry.info.description;
      result.outcome = Outcome::kSkip;
      result.skip_reason = module ? reason : "the module did not load";
      report.results.push_back(result);
      continue;
    }
    report.results.push_back(RunCheckIsolated(entry, *module, options));
  }
  return report;
}

bool Report::Passed() const {
  return Count(Outcome::kFail) == 0 && Count(Outcome::kCrash) == 0 && Count(Outcome::kTimeout) == 0;
}

int Report::Count(Outcome outcome) const {
  return static_cast<int>(std::count_if(results.begin(), results.end(),
                                        [outcome](const CheckResult& r) { return r.outcome == outcome; }));
}

nlohmann::ordered_json Report::ToJson() const {
  nlohmann::ordered_json checks = nlohmann::ordered_json::array();
  for (const CheckResult& r : results) {
    nlohmann::ordered_json check{{"id", r.id}, {"description", r.description}, {"outcome", OutcomeName(r.outcome)}};
    if (!r.summary.empty()) check["summary"] = r.summary;
    if (!r.skip_reason.empty()) check["skip_reason"] = r.skip_reason;
    check["failures"] = r.failures;
    check["data"] = r.data;
    check["seconds"] = r.seconds;
    checks.push_back(check);
  }
  return nlohmann::ordered_json{{"module", module_path},
                                {"seed", seed},
                                {"checks", checks},
                                {"passed", Count(Outcome::kPass)},
                                {"failed", Count(Outcome::kFail)},
                                {"crashed", Count(Outcome::kCrash)},
                                {"timed_out", Count(Outcome::kTimeout)},
                                {"skipped", Count(Outcome::kSkip)},
                                {"verdict", Passed() ? "pass" : "fail"}};
}

void Report::PrintText(std::ostream& out) const {
  constexpr std::size_t kShownFailures = 20;
  out << "validating " << module_path << "\nseed " << seed << " (repeat with --seed " << seed << ")\n\n";
  for (const CheckResult& r : results) {
    std::string tag = OutcomeName(r.outcome);
    for (char& c : tag) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    out << tag << std::string(6 - std::min<std::size_t>(tag.size(), 5), ' ') << r.id;
    if (r.outcome == Outcome::kSkip) {
      out << " (" << r.skip_reason << ")\n";
      continue;
    }
    out << "  [" << static_cast<int>(r.seconds * 1000) << " ms]\n      " << r.description << '\n';
    if (!r.summary.empty()) out << "      " << r.summary << '\n';
    for (std::size_t i = 0; i < r.failures.size() && i < kShownFailures; ++i) out << "      - " << r.failures[i] << '\n';
    if (r.failures.size() > kShownFailures) {
      out << "      ... and " << (r.failures.size() - kShownFailures) << " more (--json lists them all)\n";
    }
  }
  out << "\n" << Count(Outcome::kPass) << " passed, " << Count(Outcome::kFail) << " failed, "
      << Count(Outcome::kCrash) << " crashed, " << Count(Outcome::kTimeout) << " timed out, "
      << Count(Outcome::kSkip) << " skipped\n";
  if (Passed()) {
    out << "VERDICT: PASS\n";
  } else {
    std::string failed;
    for (const CheckResult& r : results) {
      if (r.outcome == Outcome::kFail || r.outcome == Outcome::kCrash || r.outcome == Outcome::kTimeout)
        failed += (failed.empty() ? "" : ", ") + r.id;
    }
    out << "VERDICT: FAIL (" << failed << ")\n";
  }
}

}  // namespace hostsim::validate
