#include "FaultPlan.h"

#include <stdexcept>

#include "HostFunctions.h"

namespace hostsim {

void FaultPlan::FailCall(const std::string& call, int nth, PF_Err code) {
  const HostFunction* function = FindHostFunction(call);
  if (function == nullptr || !function->can_fail()) {
    throw std::invalid_argument("no host function \"" + call + "\" that can be made to fail");
  }
  call_rules_.push_back(CallRule{call, nth, code});
}

void FaultPlan::RefuseSuite(const std::string& name, A_long version, SuiteRefusal how) {
  suite_rules_.push_back(SuiteRule{name, version, how});
}

void FaultPlan::Clear() {
  call_rules_.clear();
  suite_rules_.clear();
  answers_ = 0;
}

std::optional<PF_Err> FaultPlan::OnCall(std::string_view call) {
  std::optional<PF_Err> fired;
  for (CallRule& rule : call_rules_) {
    if (rule.call != call) continue;
    ++rule.seen;
    if (!fired && (rule.nth == kEveryCall || rule.nth == rule.seen)) fired = rule.code;
  }
  return fired;
}

std::optional<SuiteRefusal> FaultPlan::SuiteRefused(std::string_view name, A_long version) const {
  for (const SuiteRule& rule : suite_rules_) {
    if (rule.name == name && rule.version == version) return rule.how;
  }
  return std::nullopt;
}

}  // namespace hostsim
