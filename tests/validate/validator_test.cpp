// The validator's own guarantees: its checks of the rendering rules accept
// the worked examples and name what a wrong placement or time breaks, a
// crashing or hanging case is reported instead of ending the run, the
// fault sweep visits every call it counts, and render threads meet inside
// the effect on every run.

#include <sys/wait.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "CheckContext.h"
#include "EffectFixture.h"
#include "Module.h"
#include "PlacementProperties.h"
#include "RenderMeeting.h"
#include "RequestRules.h"
#include "SourceTimeRule.h"
#include "Validator.h"
#include "WorkedExamples.h"
#include "EffectControls.h"

namespace hostsim::validate {
namespace {

::testing::AssertionResult RectIs(const PF_LRect& rect, A_long left, A_long top, A_long right, A_long bottom) {
  if (rect.left == left && rect.top == top && rect.right == right && rect.bottom == bottom) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "got " << RectText(rect) << ", expected "
                                       << RectText(PF_LRect{left, top, right, bottom});
}

bool Mentions(const std::vector<std::string>& faults, const std::string& text) {
  for (const std::string& fault : faults) {
    if (fault.find(text) != std::string::npos) return true;
  }
  return false;
}

std::string Joined(const std::vector<std::string>& faults) {
  std::string text;
  for (const std::string& fault : faults) text += "\n  " + fault;
  return text.empty() ? " (none)" : text;
}

// The property checks and the worked examples are two statements of the same
// rules: every worked example must have every property of its mode.
TEST(PlacementProperties, HoldForEveryWorkedExample) {
  for (const PlacementExample& e : PlacementExamples()) {
    const PlacementCase& c = e.placed;
    SCOPED_TRACE("Mode " + std::to_string(c.mode) + ", " + std::to_string(c.lw) + " x " + std::to_string(c.lh) +
                 " on " + std::to_string(c.ow) + " x " + std::to_string(c.oh));
    const std::vector<std::string> faults = PlacementFaults(c, e.src, e.dst);
    EXPECT_TRUE(faults.empty()) << Joined(faults);
  }
}

// Each way of placing a frame wrongly is named by the property it breaks,
// and the rounding the checks allow is no wider than whole pixels need.
TEST(PlacementProperties, NameThePropertyAWrongPlacementBreaks) {
  using controls::kCenter;
  using controls::kFitToLayer;
  using controls::kNoMargin;
  using controls::kWhole;
  const PF_LRect full_hd{0, 0, 1920, 1080};
  struct Wrong {
    PlacementCase placed;
    PF_LRect src, dst;
    const char* broken;
  };
  const Wrong cases[] = {
      // "Center": a window of the output's size, centred on the frame, to the whole output.
      {{kCenter, 1280, 720, 1920, 1080}, {-320, -180, 1599, 900}, full_hd, "does not keep the frame's size"},
      {{kCenter, 1280, 720, 1921, 1081}, {-320, -180, 1599, 900}, {0, 0, 1921, 1081}, "does not keep the frame's size"},
      {{kCenter, 1280, 720, 1920, 1080}, {-319, -180, 1601, 900}, full_hd, "does not centre"},
      {{kCenter, 1280, 720, 1920, 1080}, {0, 0, 1280, 720}, full_hd, "does not keep the frame's size"},
      {{kCenter, 1280, 720, 1920, 1080}, {-320, -180, 1600, 900}, {0, 0, 1920, 1079}, "does not fill the whole output"},
      // "Whole": the whole frame, fitted inside the output at its own aspect ratio, centred.
      {{kWhole, 720, 1280, 1920, 1080}, {0, 0, 720, 1280}, full_hd, "does not keep the frame's aspect ratio"},
      {{kWhole, 720, 1280, 1920, 1080}, {0, 0, 720, 1280}, {656, 0, 1266, 1080}, "does not keep the frame's aspect ratio"},
      {{kWhole, 720, 1280, 1920, 1080}, {0, 0, 720, 1280}, {654, 0, 1262, 1080}, "does not centre"},
      {{kWhole, 1920, 480, 1920, 1080}, {0, 0, 1920, 480}, {0, 0, 1920, 480}, "does not centre"},
      {{kWhole, 1920, 480, 1920, 1080}, {0, 0, 1920, 480}, {0, 300, 1920, 1380}, "reaches outside the output"},
      {{kWhole, 720, 1280, 1920, 1080}, {0, 0, 720, 1280}, {660, 4, 1260, 1076}, "does not touch two opposite edges"},
      {{kWhole, 720, 1280, 1920, 1080}, {0, 0, 720, 1279}, {656, 0, 1264, 1080}, "does not show the whole frame"},
      // "No Margin": a part of the frame at the output's aspect ratio, centred, to the whole output.
      {{kNoMargin, 720, 1280, 1920, 1080}, {0, 0, 720, 1280}, full_hd, "does not keep the frame's aspect ratio"},
      {{kNoMargin, 720, 1280, 1920, 1080}, {0, 0, 720, 405}, full_hd, "does not centre"},
      {{kNoMargin, 720, 1280, 1920, 1080}, {0, -10, 720, 1290}, full_hd, "reaches outside the frame"},
      {{kNoMargin, 720, 1280, 1920, 1080}, {10, 448, 710, 833}, full_hd, "cuts more than it must"},
      {{kNoMargin, 1920, 480, 1920, 1080}, {533, 0, 1387, 480}, {0, 0, 1920, 1000}, "does not cover the whole output"},
      // Stretched: exactly the whole frame to exactly the whole output.
      {{kFitToLayer, 720, 1280, 1920, 1080}, {0, 0, 720, 1280}, {0, 0, 1919, 1080}, "\"Fit to Layer\" is not copied whole"},
      {{0, 720, 1280, 1920, 1080}, {0, 0, 720, 1280}, {656, 0, 1264, 1080}, "Mode 0 (outside the list)"},
      {{kCenter, 1920, 1080, 1920, 1080}, {1, 0, 1921, 1080}, full_hd, "a frame of the output's size"},
  };
  for (const Wrong& w : cases) {
    const PlacementCase& c = w.placed;
    SCOPED_TRACE("Mode " + std::to_string(c.mode) + ", " + std::to_string(c.lw) + " x " + std::to_string(c.lh) +
                 " on " + std::to_string(c.ow) + " x " + std::to_string(c.oh) + ": " + RectText(w.src) + " to " +
                 RectText(w.dst));
    const std::vector<std::string> faults = PlacementFaults(c, w.src, w.dst);
    EXPECT_TRUE(Mentions(faults, w.broken)) << "expected \"" << w.broken << "\", got" << Joined(faults);
  }
}

// Sizes at the ends of what a host lends: a 1-pixel frame on an 8192-pixel
// output and back, whose fitted side rounds to nothing, and an output with
// no pixels, where nothing can be seen and any rectangles do.
TEST(PlacementProperties, HoldAtExtremeSizes) {
  using controls::kNoMargin;
  using controls::kWhole;
  EXPECT_TRUE(PlacementFaults({kWhole, 1, 8192, 8192, 1}, {0, 0, 1, 8192}, {4096, 0, 4096, 1}).empty());
  EXPECT_TRUE(PlacementFaults({kWhole, 8192, 1, 1, 8192}, {0, 0, 8192, 1}, {0, 4096, 1, 4096}).empty());
  EXPECT_TRUE(PlacementFaults({kNoMargin, 64, 36, 0, 0}, {0, 0, 64, 0}, {0, 0, 0, 0}).empty());
  EXPECT_TRUE(PlacementFaults({kNoMargin, 64, 36, 0, 54}, {32, 0, 32, 36}, {0, 0, 0, 54}).empty());
  EXPECT_FALSE(PlacementFaults({kWhole, 1, 8192, 8192, 1}, {0, 0, 1, 8192}, {0, 0, 8192, 1}).empty());
}

SourceTimeInputs CardLayerAt(A_long time_type, double percent, double seconds) {
  SourceTimeInputs in;  // in-point 2 s, 10 s long, 30 fps, time scale 30
  in.in_point = {60, 30};
  in.duration = {300, 30};
  in.frame_rate = 30.0;
  in.time_scale = 30;
  in.time_type = time_type;
  in.percent_fixed = static_cast<A_long>(percent * 65536.0);
  in.seconds = seconds;
  return in;
}

// The rule allows the nearest tick and nothing further, so a time one frame
// off (a duration not shortened by its last frame, a seconds offset counted
// from 0 instead of the in-point) is caught, and every worked example fits.
TEST(SourceTimeRule, AllowsTheNearestTickAndEveryWorkedExample) {
  for (const SourceTimeExample& e : SourceTimeExamples()) {
    SCOPED_TRACE(e.what);
    SourceTimeInputs in;
    in.in_point = e.in_point;
    in.duration = e.duration;
    in.frame_rate = e.frame_rate;
    in.time_scale = e.time_scale;
    in.time_type = e.time_type;
    in.percent_fixed = static_cast<A_long>(e.percent * 65536.0);
    in.seconds = e.seconds;
    EXPECT_EQ(SourceTimeFault(in, A_Time{e.comp_time, e.time_scale}), "");
  }
  EXPECT_NE(SourceTimeFault(CardLayerAt(controls::kPercent, 100, 0), A_Time{360, 30}), "");  // not shortened
  EXPECT_NE(SourceTimeFault(CardLayerAt(controls::kSecond, 0, 1.5), A_Time{45, 30}), "");   // not from the in-point
  EXPECT_NE(SourceTimeFault(CardLayerAt(controls::kSecond, 0, 1.5), A_Time{105, 60}), "");  // another scale
  // Half-way between two ticks (209.5) either neighbour is the nearest.
  const TickRange half = SourceTimeTicks(CardLayerAt(controls::kPercent, 50, 0));
  EXPECT_EQ(half.low, 209);
  EXPECT_EQ(half.high, 210);
  // Before 0 the half tick added and the fraction dropped toward 0 may land a tick later.
  SourceTimeInputs before_zero = CardLayerAt(controls::kPercent, 0, 0);
  before_zero.in_point = {-100, 30};
  EXPECT_EQ(SourceTimeTicks(before_zero).low, -100);
  EXPECT_EQ(SourceTimeTicks(before_zero).high, -99);
  // Beyond 32 bits the time saturates; a frame rate of 0 leaves no duration to take a share of.
  SourceTimeInputs far = CardLayerAt(controls::kSecond, 0, 1e9);
  far.time_scale = 2147483647u;
  EXPECT_EQ(SourceTimeTicks(far).low, 2147483647);
  SourceTimeInputs no_rate = CardLayerAt(controls::kPercent, 100, 0);
  no_rate.frame_rate = 0;
  EXPECT_EQ(SourceTimeTicks(no_rate).high, 60);
}

TEST(RequestRules, AskForTheWholeInputAtTheDownsampledSize) {
  EXPECT_EQ(Trunc32(1e300), 2147483647);
  EXPECT_EQ(Trunc32(-1e300), -2147483647 - 1);
  EXPECT_EQ(Trunc32(std::nan("")), 0);
  EXPECT_EQ(Trunc32(-2.7), -2);
  EXPECT_EQ(RequestedSide(1920, {1, 1}), 1920);
  EXPECT_EQ(RequestedSide(1921, {1, 2}), 961);
  EXPECT_EQ(RequestedSide(1000, {1, 3}), 333);
  EXPECT_EQ(RequestedSide(1000, {2, 3}), 667);

  PF_LRect empty{0, 0, 0, 0};
  UnionInto(PF_LRect{10, 20, 110, 220}, &empty);
  EXPECT_TRUE(RectIs(empty, 10, 20, 110, 220));
  PF_LRect both_empty{0, 0, 0, 0};
  UnionInto(PF_LRect{3, 3, 3, 9}, &both_empty);
  EXPECT_TRUE(RectIs(both_empty, 3, 3, 3, 9));
  PF_LRect kept{10, 20, 110, 220};
  UnionInto(PF_LRect{0, 0, 0, 0}, &kept);
  EXPECT_TRUE(RectIs(kept, 10, 20, 110, 220));
  UnionInto(PF_LRect{-5, 30, 50, 300}, &kept);
  EXPECT_TRUE(RectIs(kept, -5, 20, 110, 300));
}

#if !defined(_WIN32)
// A case that takes the process down must come back as a result naming it.
TEST(RunCase, ReportsACrashOrAHangInsteadOfEndingTheRun) {
  const CaseOutcome crash = RunCase(true, "crashing case", [](CaseOutcome&) { std::raise(SIGSEGV); });
  EXPECT_TRUE(crash.crashed);
  EXPECT_NE(crash.crash.find("signal 11"), std::string::npos) << crash.crash;

  const CaseOutcome hang = RunCase(true, "hanging case", [](CaseOutcome&) { for (;;) pause(); }, 1);
  EXPECT_TRUE(hang.crashed);
  EXPECT_NE(hang.crash.find("timed out"), std::string::npos) << hang.crash;

  const CaseOutcome reported = RunCase(true, "failing case", [](CaseOutcome& out) {
    out.failures.push_back("something differed");
    out.data["returned"] = 517;
  });
  EXPECT_FALSE(reported.crashed);
  EXPECT_EQ(reported.failures, std::vector<std::string>{"something differed"});
  EXPECT_EQ(reported.data["returned"], 517);

  const CaseOutcome thrown = RunCase(true, "throwing case", [](CaseOutcome&) { throw std::runtime_error("boom"); });
  ASSERT_EQ(thrown.failures.size(), 1u);
  EXPECT_NE(thrown.failures[0].find("throwing case"), std::string::npos);
}
#endif

// The sweep's count is the count of what the normal runs called, and those
// runs reach every handler that calls the host.
TEST(FaultSweep, SweepsEveryDistinctCallOfEveryHandler) {
  Options options;
  const CheckResult result = RunCheck("fault-sweep", tovane_test::EffectModule(), options);
  ASSERT_EQ(result.outcome, Outcome::kPass) << (result.failures.empty() ? "" : result.failures.front());
  EXPECT_EQ(result.data["swept"], result.data["distinct_calls_that_can_fail"]);
  EXPECT_GT(result.data["swept"].get<int>(), 100);
  std::set<std::string> handlers;
  for (const auto& site : result.data["sites"]) {
    const std::string text = site["site"].get<std::string>();
    for (const char* handler : {"GlobalSetup", "ParamsSetup", "UpdateParamsUI", "SmartPreRender", "SmartRender",
                                "GlobalSetdown"}) {
      if (text.find(std::string(" of ") + handler) != std::string::npos) handlers.insert(handler);
    }
  }
  EXPECT_EQ(handlers.size(), 6u);
}

// On a module that forgets a check-in, the sweep names the run and what was
// left, and the render check names the frame.
TEST(FaultSweep, NamesWhatABrokenModuleLeavesHeld) {
  const Module broken(TOVANE_SKIP_CHECKIN_MODULE_PATH);
  Options options;
  options.frames = 16;
  const CheckResult sweep = RunCheck("fault-sweep", broken, options);
  EXPECT_EQ(sweep.outcome, Outcome::kFail);
  bool named = false;
  for (const std::string& failure : sweep.failures) {
    named = named || failure == "the normal run of SmartRender of a chosen layer's frame left held: "
                                "checked-out parameters: 1";
  }
  EXPECT_TRUE(named) << (sweep.failures.empty() ? "no failures" : sweep.failures.front());

  const CheckResult frames = RunCheck("render-sequence", broken, options);
  EXPECT_EQ(frames.outcome, Outcome::kFail);
}

// A render that keeps the frame's record in a static is caught on every
// run, whatever the seed, because the threads' render passes are made to
// meet inside the effect rather than left to overlap by chance; the real
// module passes the same runs, every render having met the others.
TEST(ConcurrentRender, CatchesARecordSharedBetweenThreadsOnEveryRun) {
  const Module shared_record(TOVANE_RECORD_IN_STATIC_MODULE_PATH);
  Options options;
  options.frames = 16;
  options.threads = 3;
  const int renders_per_thread = 5;  // 16 frames over 3 threads
  for (std::uint32_t seed = 1; seed <= 5; ++seed) {
    options.seed = seed;
    const CheckResult caught = RunCheck("concurrent-render", shared_record, options);
    EXPECT_EQ(caught.outcome, Outcome::kFail) << "seed " << seed;
    EXPECT_EQ(caught.data["render_meetings"], renders_per_thread) << "seed " << seed;

    const CheckResult real = RunCheck("concurrent-render", tovane_test::EffectModule(), options);
    EXPECT_EQ(real.outcome, Outcome::kPass) << "seed " << seed << ": "
                                            << (real.failures.empty() ? "" : real.failures.front());
    EXPECT_EQ(real.data["render_meetings"], renders_per_thread) << "seed " << seed;
    EXPECT_EQ(real.data["missed_meetings"], 0) << "seed " << seed;
  }
}

// Pre-render data kept from one pass to the next, even one record per
// thread, reaches the render of the frame pre-rendered first of each pair:
// exactly those frames fail, on every seed, whatever the scheduler does.
TEST(ConcurrentRender, CatchesWhatIsKeptBetweenTheTwoPasses) {
  const Module last_pre_render(TOVANE_LAST_PRE_RENDER_MODULE_PATH);
  Options options;
  options.frames = 8;
  options.threads = 2;  // 4 frames a thread, pre-rendered in pairs
  for (std::uint32_t seed = 1; seed <= 5; ++seed) {
    options.seed = seed;
    const CheckResult result = RunCheck("concurrent-render", last_pre_render, options);
    EXPECT_EQ(result.outcome, Outcome::kFail) << "seed " << seed;
    for (int thread = 0; thread < 2; ++thread) {
      for (int frame = 0; frame < 4; ++frame) {
        const std::string prefix = "thread " + std::to_string(thread) + ": frame " + std::to_string(frame) + " (";
        bool render_failed = false;
        for (const std::string& failure : result.failures) {
          render_failed = render_failed || (failure.rfind(prefix, 0) == 0 && failure.find(", SmartRender: ") != std::string::npos);
        }
        EXPECT_EQ(render_failed, frame % 2 == 0) << "seed " << seed << ", " << prefix;
      }
    }
  }
}

// A thread that will not come again lets the others go at once: a render
// thread that could not set its effect up must not hold the rest.
TEST(RenderMeeting, ReleasesTheWaitingWhenAPartyLeaves) {
  RenderMeeting meeting(3);
  const auto began = std::chrono::steady_clock::now();
  std::thread first([&] { meeting.Meet(); });
  std::thread second([&] { meeting.Meet(); });
  std::thread leaving([&] { meeting.Leave(); });
  first.join();
  second.join();
  leaving.join();
  EXPECT_LT(std::chrono::steady_clock::now() - began, RenderMeeting::kPatience);
  EXPECT_EQ(meeting.met(), 1);
  EXPECT_EQ(meeting.missed(), 0);
}

}  // namespace
}  // namespace hostsim::validate

namespace hostsim::validate {
namespace {

struct CommandRun {
  int exit_code = -1;
  std::string out;
};

CommandRun RunHost(const std::string& args) {
  CommandRun run;
  const std::string command = std::string("\"") + TOVANE_HOST_PATH + "\" validate " + args + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[4096];
  std::size_t got = 0;
  while ((got = fread(buffer, 1, sizeof(buffer), pipe)) > 0) run.out.append(buffer, got);
  const int status = pclose(pipe);
  run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

// What scripts and people rely on: the JSON carries the same verdict and
// checks as the text, a skipped check says why, a repeated seed repeats the
// run, and a wrong option is told apart from a failing module.
TEST(ValidateCommand, ReportsTheSameRunAsTextAndAsJson) {
  const std::string selection =
      "--module \"" TOVANE_MODULE_PATH "\" --only lifecycle-order --only render-sequence --frames 8 "
      "--skip \"render-sequence=too slow here\" --seed 7";
  const CommandRun text = RunHost(selection);
  EXPECT_EQ(text.exit_code, 0) << text.out;
  EXPECT_NE(text.out.find("seed 7 (repeat with --seed 7)"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("PASS  lifecycle-order"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("SKIP  render-sequence (too slow here)"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("VERDICT: PASS"), std::string::npos) << text.out;

  const CommandRun json = RunHost(selection + " --json");
  EXPECT_EQ(json.exit_code, 0);
  const auto report = nlohmann::ordered_json::parse(json.out);
  EXPECT_EQ(report["seed"], 7);
  EXPECT_EQ(report["verdict"], "pass");
  bool skipped_with_reason = false;
  for (const auto& check : report["checks"]) {
    if (check["id"] == "render-sequence") skipped_with_reason = check["skip_reason"] == "too slow here";
  }
  EXPECT_TRUE(skipped_with_reason);

  EXPECT_EQ(RunHost("--only no-such-check").exit_code, 2);
  EXPECT_EQ(RunHost("--module /nonexistent/module.so --only lifecycle-order").exit_code, 1);
}

#if defined(TOVANE_CRASHING_MODULE_PATH)
// A module that crashes or hangs in a command ends only the checks that
// reach it: each is reported with its outcome and id, the run goes on to the
// next check and to a verdict, and the exit status says the module failed.
struct BrokenModuleCase {
  const char* name;
  const char* module;
  const char* tag;     // the line's outcome
  const char* detail;  // what the failure says happened
};

class BrokenModuleRun : public ::testing::TestWithParam<BrokenModuleCase> {};

TEST_P(BrokenModuleRun, EndsTheCheckNamingItAndGoesOn) {
  const BrokenModuleCase& c = GetParam();
  const CommandRun run = RunHost(std::string("--module \"") + c.module +
                                 "\" --only lifecycle-order --only render-sequence --frames 4 --timeout 2");
  EXPECT_EQ(run.exit_code, 1) << run.out;
  for (const char* id : {"lifecycle-order", "render-sequence"}) {
    EXPECT_NE(run.out.find(std::string(c.tag) + std::string(6 - std::min<std::size_t>(std::strlen(c.tag), 5), ' ') +
                           id),
              std::string::npos)
        << id << " in\n"
        << run.out;
  }
  EXPECT_NE(run.out.find(c.detail), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("VERDICT: FAIL (lifecycle-order, render-sequence)"), std::string::npos) << run.out;
}

INSTANTIATE_TEST_SUITE_P(CrashOrHang, BrokenModuleRun,
                         ::testing::Values(BrokenModuleCase{"Crashing", TOVANE_CRASHING_MODULE_PATH, "CRASH",
                                                            "lifecycle-order: the module crashed the check: killed by signal 11"},
                                           BrokenModuleCase{"Hanging", TOVANE_HANGING_MODULE_PATH, "TIMEOUT",
                                                            "lifecycle-order: the module did not return: timed out after 2 s"}),
                         [](const auto& info) { return std::string(info.param.name); });
#endif

TEST(ValidateCommand, RepeatsARunFromItsSeed) {
  auto summary = [](std::uint32_t seed) {
    Options options;
    options.seed = seed;
    options.frames = 24;
    return RunCheck("render-sequence", tovane_test::EffectModule(), options).summary;
  };
  EXPECT_EQ(summary(11), summary(11));
  EXPECT_NE(summary(11), summary(12));
}

}  // namespace
}  // namespace hostsim::validate
