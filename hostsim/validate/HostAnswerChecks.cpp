// The rarer answers a real host may give, each switched on in turn over the
// whole protocol: whatever the effect returns, no command may crash, leave
// anything held or misuse the host.

#include <string>
#include <utility>

#include "Checks.h"

namespace hostsim::validate {

void CheckHostAnswers(CheckContext& ctx) {
  const std::pair<HostAnswer, const char*> answers[] = {
      {HostAnswer::kMaxResultRectWider, "a maximum rectangle wider than the result"},
      {HostAnswer::kZeroHeightFrameWithPixels, "a zero-height layer frame with pixel memory"},
      {HostAnswer::kZeroWidthFrameWithPixels, "a zero-width layer frame with pixel memory"},
      {HostAnswer::kNullInputWorldOnSuccess, "success with no input world"},
      {HostAnswer::kNullOutputWorldOnSuccess, "success with no output world"},
      {HostAnswer::kUnboundedSprintf, "a print callback that does not cut at the message buffer"},
  };
  for (const auto& row : answers) {
    // Named apart from the row: a lambda may not capture a structured binding under C++17.
    const HostAnswer answer = row.first;
    const std::string what = std::string("with ") + row.second;
    const CaseOutcome outcome = RunCase(ctx.options().isolate, what, [&](CaseOutcome& out) {
      Host host(ctx.module());
      Session session(host);
      host.SetScene(StandardComposition(), StandardSettings(kCardLayer));
      if (!SetUpEffect(session, out.failures)) return;
      host.faults().Answer(answer);
      session.About();
      ExpectCleanCommand(host, what + ", About", out.failures);
      for (A_long mode = controls::kCenter; mode <= controls::kFitToLayer; ++mode) {
        host.settings().controls[controls::kMode] = mode;
        session.RenderFrame(0);
        ExpectCleanCommand(host, what + ", a frame in mode " + std::to_string(mode), out.failures);
      }
      host.faults().Clear();
      if (session.GlobalSetdown() != PF_Err_NONE) out.failures.push_back(what + ": global setdown failed");
      ExpectCleanCommand(host, what + ", global setdown", out.failures);
    });
    if (outcome.crashed) ctx.Fail(what + ": the module crashed (" + outcome.crash + ")");
    for (const std::string& f : outcome.failures) ctx.Fail(f);
  }
  ctx.Summary("About and a frame in each mode under each of 5 rarer host answers");
}

}  // namespace hostsim::validate
