// The validator's own guarantees: its statement of the rendering rules gives
// the documented examples, a crashing or hanging case is reported instead of
// ending the run, and the fault sweep visits every call it counts.

#include <sys/wait.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "CheckContext.h"
#include "EffectFixture.h"
#include "Module.h"
#include "PlacementRules.h"
#include "Validator.h"

namespace hostsim::validate {
namespace {

::testing::AssertionResult RectIs(const PF_LRect& rect, A_long left, A_long top, A_long right, A_long bottom) {
  if (rect.left == left && rect.top == top && rect.right == right && rect.bottom == bottom) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "got " << RectText(rect) << ", expected "
                                       << RectText(PF_LRect{left, top, right, bottom});
}

// The documented placements on a 1920 x 1080 output. The validator judges
// the effect by these rules, so they must give exactly these rectangles.
TEST(PlacementRules, GiveTheDocumentedRectanglesOnAFullHdOutput) {
  struct Example {
    A_long mode, lw, lh;
    PF_LRect src, dst;
  };
  const Example examples[] = {
      {1, 1280, 720, {-320, -180, 1600, 900}, {0, 0, 1920, 1080}},
      {2, 1280, 720, {0, 0, 1280, 720}, {0, 0, 1920, 1080}},
      {3, 1280, 720, {0, 0, 1280, 720}, {0, 0, 1920, 1080}},
      {1, 720, 1280, {-600, 100, 1320, 1180}, {0, 0, 1920, 1080}},
      {2, 720, 1280, {0, 0, 720, 1280}, {656, 0, 1264, 1080}},
      {3, 720, 1280, {0, 438, 720, 843}, {0, 0, 1920, 1080}},
      {2, 1920, 480, {0, 0, 1920, 480}, {0, 300, 1920, 780}},
      {3, 1920, 480, {533, 0, 1387, 480}, {0, 0, 1920, 1080}},
      {2, 1000, 1000, {0, 0, 1000, 1000}, {420, 0, 1500, 1080}},
      {3, 1000, 1000, {0, 219, 1000, 781}, {0, 0, 1920, 1080}},
      {1, 3840, 2160, {960, 540, 2880, 1620}, {0, 0, 1920, 1080}},
      {4, 720, 1280, {0, 0, 720, 1280}, {0, 0, 1920, 1080}},
      {7, 720, 1280, {0, 0, 720, 1280}, {0, 0, 1920, 1080}},  // outside the list: stretched
      {1, 1920, 1080, {0, 0, 1920, 1080}, {0, 0, 1920, 1080}},  // equal sizes: stretched whatever the mode
      {3, 1920, 1080, {0, 0, 1920, 1080}, {0, 0, 1920, 1080}},
  };
  for (const Example& e : examples) {
    SCOPED_TRACE("Mode " + std::to_string(e.mode) + ", " + std::to_string(e.lw) + " x " + std::to_string(e.lh));
    const Placement p = PlaceByMode(e.mode, e.lw, e.lh, 1920, 1080);
    EXPECT_TRUE(RectIs(p.src, e.src.left, e.src.top, e.src.right, e.src.bottom));
    EXPECT_TRUE(RectIs(p.dst, e.dst.left, e.dst.top, e.dst.right, e.dst.bottom));
  }
  // Odd outputs lose a pixel to the integer halves; a larger odd frame is windowed.
  EXPECT_TRUE(RectIs(PlaceByMode(1, 1280, 720, 1921, 1081).src, -320, -180, 1600, 900));
  EXPECT_TRUE(RectIs(PlaceByMode(1, 1921, 1081, 1920, 1080).src, 0, 0, 1920, 1080));
}

TEST(PlacementRules, SaturateInsteadOfOverflowingAtExtremeSizes) {
  // A 1-pixel-wide frame on an 8192-wide output: the ratios are huge, the
  // edges must still land inside the output.
  const Placement whole = PlaceByMode(2, 1, 8192, 8192, 1);
  EXPECT_GE(whole.dst.left, 0);
  EXPECT_LE(whole.dst.right, 8192);
  EXPECT_EQ(Trunc32(1e300), 2147483647);
  EXPECT_EQ(Trunc32(-1e300), -2147483647 - 1);
  EXPECT_EQ(Trunc32(std::nan("")), 0);
  EXPECT_EQ(Trunc32(-2.7), -2);
}

// Chosen layer: in-point 2 s, 10 s long, composition at 30 fps and time scale 30.
TEST(PlacementRules, GiveTheDocumentedSourceTimes) {
  SourceTimeInputs in;
  in.in_point = {60, 30};
  in.duration = {300, 30};
  in.frame_rate = 30.0;
  in.time_scale = 30;
  EXPECT_EQ(ShortenedDuration(in.duration, 30.0).value, 299);

  in.time_type = 1;
  in.percent_fixed = 50 << 16;
  EXPECT_EQ(SourceCompTime(in).value, 210);
  in.percent_fixed = 100 << 16;
  EXPECT_EQ(SourceCompTime(in).value, 359);
  in.percent_fixed = 0;
  EXPECT_EQ(SourceCompTime(in).value, 60);
  in.time_type = 2;
  in.seconds = 1.5;
  EXPECT_EQ(SourceCompTime(in).value, 105);
  in.time_type = 3;  // outside the list: the in-point
  EXPECT_EQ(SourceCompTime(in).value, 60);

  // One frame or less leaves nothing: every percentage gives the in-point.
  in.time_type = 1;
  in.percent_fixed = 100 << 16;
  in.duration = {1, 30};
  EXPECT_EQ(SourceCompTime(in).value, 60);
  // 29.97 fps over a scale of 30000: one frame is 1001.
  EXPECT_EQ(ShortenedDuration(A_Time{300300, 30000}, 29.97).value, 299299);
  // A frame rate of 0 makes one frame endless: nothing is left, not a division fault.
  EXPECT_EQ(ShortenedDuration(A_Time{300, 30}, 0.0).value, 0);
}

TEST(PlacementRules, AskForTheWholeInputAtTheDownsampledSize) {
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
