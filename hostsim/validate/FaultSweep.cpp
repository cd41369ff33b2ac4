// The fault sweep: every host call the effect makes on its normal runs is
// made to fail, one at a time, and every suite it acquires is refused, one
// at a time. Each time the effect must return the code it is meant to, not
// crash, and give back everything it obtained.

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <sstream>

#include "Checks.h"

namespace hostsim::validate {

namespace {

using Json = nlohmann::ordered_json;
using F = HostFunctionId;

// The code the sweep injects: a cancellation, which hosts do return from
// callbacks and which no handler of the effect produces itself, so a result
// equal to it can only have come from the failed call.
constexpr PF_Err kInjected = PF_Interrupt_CANCEL;

// Whether the host can report a failure of this call (the host-function
// table says; the others return nothing, or a value the effect has no
// failure reading for).
bool CanFail(const std::string& call) {
  const HostFunction* function = FindHostFunction(call);
  return function != nullptr && function->can_fail();
}

struct Scenario {
  std::string name;
  PF_Cmd command;
  A_long chosen_layer = kCardLayer;
  A_long time_type = controls::kPercent;
};

const std::vector<Scenario>& Scenarios() {
  static const std::vector<Scenario> scenarios = {
      {"About", PF_Cmd_ABOUT},
      {"GlobalSetup", PF_Cmd_GLOBAL_SETUP},
      {"ParamsSetup", PF_Cmd_PARAMS_SETUP},
      {"UpdateParamsUI with Time Type Percent", PF_Cmd_UPDATE_PARAMS_UI, kCardLayer, controls::kPercent},
      {"UpdateParamsUI with Time Type Second", PF_Cmd_UPDATE_PARAMS_UI, kCardLayer, controls::kSecond},
      {"SmartPreRender", PF_Cmd_SMART_PRE_RENDER},
      {"SmartRender of a chosen layer's frame", PF_Cmd_SMART_RENDER, kCardLayer},
      {"SmartRender with no layer chosen", PF_Cmd_SMART_RENDER, 0},
      {"SmartRender of a chosen layer without pixels", PF_Cmd_SMART_RENDER, kEmptyLayer},
      {"GlobalSetdown", PF_Cmd_GLOBAL_SETDOWN},
  };
  return scenarios;
}

constexpr A_long kFrameTime = 15;

using Arm = std::function<void(Session&)>;
using Observe = std::function<void(Session&, PF_Err)>;

// Runs the whole protocol up to and including the scenario's command (arm
// just before it, observe just after), then what a host does afterwards:
// frees the pre-render data and sets the effect down.
void RunScenario(const Scenario& scenario, Session& session, const Arm& arm, const Observe& observe) {
  Host& host = session.host();
  host.SetScene(StandardComposition(), StandardSettings(scenario.chosen_layer));
  host.settings().controls[controls::kTimeType] = scenario.time_type;
  auto send = [&](PF_Cmd cmd, const std::function<PF_Err()>& command) {
    if (cmd != scenario.command) return command();
    arm(session);
    const PF_Err err = command();
    observe(session, err);
    return err;
  };
  if (scenario.command == PF_Cmd_ABOUT) {
    send(PF_Cmd_ABOUT, [&] { return session.About(); });
    return;
  }
  send(PF_Cmd_GLOBAL_SETUP, [&] { return session.GlobalSetup(); });
  if (host.global_data() == nullptr) return;
  if (scenario.command != PF_Cmd_GLOBAL_SETUP) {
    send(PF_Cmd_PARAMS_SETUP, [&] { return session.ParamsSetup(); });
    if (scenario.command == PF_Cmd_UPDATE_PARAMS_UI) {
      send(PF_Cmd_UPDATE_PARAMS_UI, [&] { return session.UpdateParamsUI(); });
    }
    if (scenario.command == PF_Cmd_SMART_PRE_RENDER || scenario.command == PF_Cmd_SMART_RENDER) {
      PF_PreRenderOutput output;
      std::memset(&output, 0, sizeof(output));
      const PF_Err pre = send(PF_Cmd_SMART_PRE_RENDER, [&] { return session.SmartPreRender(kFrameTime, &output); });
      if (pre == PF_Err_NONE && scenario.command == PF_Cmd_SMART_RENDER) {
        send(PF_Cmd_SMART_RENDER,
             [&] { return session.SmartRender(kFrameTime, output.pre_render_data, output.result_rect); });
      }
      host.FreePreRenderData(&output);
    }
  }
  send(PF_Cmd_GLOBAL_SETDOWN, [&] { return session.GlobalSetdown(); });
}

struct CallSite {
  std::size_t scenario;
  std::string call;
  int ordinal;  // 1-based among the calls of this name in the command

  std::string Describe() const {
    return Ordinal(ordinal) + " " + call + " of " + Scenarios()[scenario].name;
  }
};

// What a command must return when `call` fails, and why.
std::vector<PF_Err> ExpectedCodes(PF_Cmd cmd, const std::string& call, std::string* rule) {
  if (call == TraceName(F::kAcquireSuite)) {
    *rule = "a suite the host cannot supply is reported as 516";
    return {PF_Err_BAD_CALLBACK_PARAM};
  }
  if (call == TraceName(F::kReleaseSuite)) {
    *rule = "a refused release is ignored";
    return {PF_Err_NONE};
  }
  if (call == TraceName(F::kNewHandle)) {
    if (cmd == PF_Cmd_GLOBAL_SETUP) {
      *rule = "no global handle is reported as 512";
      return {PF_Err_INTERNAL_STRUCT_DAMAGED};
    }
    *rule = "no pre-render handle is reported as 4";
    return {PF_Err_OUT_OF_MEMORY};
  }
  if (call == TraceName(F::kLockHandle)) {
    if (cmd == PF_Cmd_GLOBAL_SETUP) {
      // Success here would leave the effect without the plug-in id that every
      // later command needs: it must fail, as with any other memory failure.
      *rule = "a global handle that cannot be locked leaves no plug-in id, so it must be reported (4 or 512)";
      return {PF_Err_OUT_OF_MEMORY, PF_Err_INTERNAL_STRUCT_DAMAGED};
    }
    if (cmd == PF_Cmd_SMART_RENDER) {
      *rule = "unreadable pre-render data is reported as 516";
      return {PF_Err_BAD_CALLBACK_PARAM};
    }
    *rule = "a pre-render handle that cannot be locked is reported as 4";
    return {PF_Err_OUT_OF_MEMORY};
  }
  *rule = "the failed call's own code is returned";
  return {kInjected};
}

std::string Codes(const std::vector<PF_Err>& codes) {
  std::string text;
  for (std::size_t i = 0; i < codes.size(); ++i) {
    text += (i == 0 ? "" : i + 1 == codes.size() ? " or " : ", ") + std::to_string(codes[i]);
  }
  return text;
}

// Everything that must hold after a faulted run: the command's code, nothing
// held after it, no misuse, and nothing left once the host has set the
// effect down. `arm` installs the fault just before the command.
void RunFaulted(const Module& module, const Scenario& scenario, const std::string& what,
                const std::vector<PF_Err>& expected, const std::string& rule, const Arm& arm, CaseOutcome& outcome) {
  Host host(module);
  Session session(host);
  PF_Err returned = PF_Err_NONE;
  bool ran = false;
  RunScenario(
      scenario, session, arm,
      [&](Session& s, PF_Err err) {
        ran = true;
        returned = err;
        s.host().faults().Clear();
        s.set_record_hook(nullptr);
        if (std::find(expected.begin(), expected.end(), err) == expected.end()) {
          outcome.failures.push_back(what + ": " + CommandName(scenario.command) + " returned " + std::to_string(err) +
                                     " instead of " + Codes(expected) + " (" + rule + ")");
        }
        ExpectCleanCommand(s.host(), what + ": " + CommandName(scenario.command), outcome.failures,
                           scenario.command == PF_Cmd_GLOBAL_SETDOWN && err != PF_Err_NONE);
      });
  if (!ran) {
    outcome.failures.push_back(what + ": the protocol never reached " + CommandName(scenario.command));
    return;
  }
  Holdings left = host.holdings();
  if (scenario.command == PF_Cmd_GLOBAL_SETDOWN && returned != PF_Err_NONE) {
    // A setdown that failed could not free the global handle; the host keeps it.
    left.other_handles = 0;
  }
  if (!left.Empty()) {
    outcome.failures.push_back(what + ": after the host set the effect down, the module still holds " + HeldText(left));
  }
  for (const std::string& misuse : TakeMisuse(host)) outcome.failures.push_back(what + ": " + misuse);
  outcome.data["returned"] = returned;
}

// The distinct host calls of each scenario's normal run, with the failures
// of the normal runs themselves.
std::vector<CallSite> NormalRunCalls(const Module& module, std::vector<std::string>& failures,
                                     std::vector<std::set<std::pair<std::string, A_long>>>* suites) {
  std::vector<CallSite> sites;
  suites->assign(Scenarios().size(), {});
  for (std::size_t i = 0; i < Scenarios().size(); ++i) {
    const Scenario& scenario = Scenarios()[i];
    Host host(module);
    Session session(host);
    std::size_t mark = 0;
    RunScenario(
        scenario, session, [&](Session& s) { mark = s.host().trace().entries().size(); },
        [&](Session& s, PF_Err err) {
          if (err != PF_Err_NONE) {
            failures.push_back("the normal run of " + scenario.name + " returned " + std::to_string(err));
          }
          ExpectCleanCommand(s.host(), "the normal run of " + scenario.name, failures);
          std::map<std::string, int> seen;
          const auto& entries = s.host().trace().entries();
          for (std::size_t e = mark; e < entries.size(); ++e) {
            if (!entries[e].contains("call")) continue;
            const std::string call = entries[e]["call"].get<std::string>();
            sites.push_back(CallSite{i, call, ++seen[call]});
            if (call == TraceName(F::kAcquireSuite) && entries[e]["result"] == 0) {
              (*suites)[i].insert({entries[e]["name"].get<std::string>(), entries[e]["version"].get<A_long>()});
            }
          }
        });
  }
  return sites;
}

}  // namespace

void CheckFaultSweep(CheckContext& ctx) {
  std::vector<std::string> failures;
  std::vector<std::set<std::pair<std::string, A_long>>> suites;
  const std::vector<CallSite> sites = NormalRunCalls(ctx.module(), failures, &suites);
  for (const std::string& f : failures) ctx.Fail(f);

  int swept = 0, failable = 0, crashed = 0;
  std::set<std::string> cannot_fail;
  Json swept_sites = Json::array();
  for (const CallSite& site : sites) {
    if (!CanFail(site.call)) {
      cannot_fail.insert(site.call);
      continue;
    }
    ++failable;
    const Scenario& scenario = Scenarios()[site.scenario];
    std::string rule;
    const std::vector<PF_Err> expected = ExpectedCodes(scenario.command, site.call, &rule);
    const std::string what = site.Describe() + " fails";
    const CaseOutcome outcome = RunCase(ctx.options().isolate, what, [&](CaseOutcome& out) {
      RunFaulted(ctx.module(), scenario, what, expected, rule,
                 [&](Session& s) { s.host().faults().FailCall(site.call, site.ordinal, kInjected); }, out);
    });
    ++swept;
    Json record{{"site", site.Describe()}, {"expected", expected}};
    if (outcome.crashed) {
      ++crashed;
      ctx.Fail(what + ": the module crashed (" + outcome.crash + ")");
      record["crashed"] = outcome.crash;
    } else {
      record["returned"] = outcome.data.value("returned", Json());
    }
    for (const std::string& f : outcome.failures) ctx.Fail(f);
    record["ok"] = !outcome.crashed && outcome.failures.empty();
    swept_sites.push_back(record);
  }
  if (swept != failable) {
    ctx.Fail("swept " + std::to_string(swept) + " call sites but the normal runs made " + std::to_string(failable) +
             " distinct calls that can fail");
  }
  std::string void_calls;
  for (const std::string& call : cannot_fail) void_calls += (void_calls.empty() ? "" : ", ") + call;
  ctx.data()["normal_runs"] = Scenarios().size();
  ctx.data()["distinct_calls"] = sites.size();
  ctx.data()["distinct_calls_that_can_fail"] = failable;
  ctx.data()["swept"] = swept;
  ctx.data()["crashed"] = crashed;
  ctx.data()["calls_that_cannot_fail"] = cannot_fail;
  ctx.data()["sites"] = swept_sites;
  ctx.Summary("swept " + std::to_string(swept) + " call sites, equal to the " + std::to_string(failable) +
              " distinct host calls that can fail on the " + std::to_string(Scenarios().size()) +
              " normal runs (" + std::to_string(sites.size()) + " distinct calls in all; " + void_calls +
              " return no failure to inject)");
}

void CheckSuiteRefusal(CheckContext& ctx) {
  std::vector<std::string> failures;
  std::vector<std::set<std::pair<std::string, A_long>>> suites;
  NormalRunCalls(ctx.module(), failures, &suites);
  for (const std::string& f : failures) ctx.Fail(f);

  int runs = 0;
  const std::string rule = "a suite the host cannot supply is reported as 516";
  for (std::size_t i = 0; i < Scenarios().size(); ++i) {
    const Scenario& scenario = Scenarios()[i];
    for (const auto& suite : suites[i]) {
      const std::string name = suite.first;
      const A_long version = suite.second;
      for (SuiteRefusal how : {SuiteRefusal::kErrorCode, SuiteRefusal::kNullSuite}) {
        const std::string what = "\"" + name + "\" v" + std::to_string(version) + " refused " +
                                 (how == SuiteRefusal::kErrorCode ? "with an error" : "as a null suite") + " in " +
                                 scenario.name;
        const CaseOutcome outcome = RunCase(ctx.options().isolate, what, [&](CaseOutcome& out) {
          RunFaulted(ctx.module(), scenario, what, {PF_Err_BAD_CALLBACK_PARAM}, rule,
                     [&](Session& s) { s.host().faults().RefuseSuite(name, version, how); }, out);
        });
        ++runs;
        if (outcome.crashed) ctx.Fail(what + ": the module crashed (" + outcome.crash + ")");
        for (const std::string& f : outcome.failures) ctx.Fail(f);
      }
    }
    // No basic suite at all: every handler that needs suites must say so;
    // the two that need none must still succeed.
    const bool needs_suites = scenario.command != PF_Cmd_ABOUT && scenario.command != PF_Cmd_PARAMS_SETUP;
    const std::vector<PF_Err> expected = {needs_suites ? PF_Err_BAD_CALLBACK_PARAM : PF_Err_NONE};
    const std::string what = "no basic suite in " + scenario.name;
    const CaseOutcome outcome = RunCase(ctx.options().isolate, what, [&](CaseOutcome& out) {
      RunFaulted(ctx.module(), scenario, what, expected,
                 needs_suites ? "a host without a basic suite is reported as 516" : "this command needs no suite",
                 [&](Session& s) {
                   s.set_record_hook([](PF_Cmd, PF_InData& in, PF_OutData&) { in.pica_basicP = nullptr; });
                 },
                 out);
    });
    ++runs;
    if (outcome.crashed) ctx.Fail(what + ": the module crashed (" + outcome.crash + ")");
    for (const std::string& f : outcome.failures) ctx.Fail(f);
  }
  ctx.data()["runs"] = runs;
  ctx.Summary(std::to_string(runs) + " runs: every suite of every normal run refused both ways, and no basic suite");
}

}  // namespace hostsim::validate
