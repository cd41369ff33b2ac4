// The render passes under the rarer answers a real host may give: a maximum
// rectangle wider than the result, a zero-sized frame that still has pixel
// memory, success with no world, time scales that are not a multiple of the
// frame rate, and a check-in refused after the input was passed through.

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "EffectFixture.h"

namespace {

using hostsim::FrameResult;
using hostsim::HostAnswer;
using nlohmann::ordered_json;
using tovane_test::Count;
using tovane_test::EffectTest;
using tovane_test::HoldsOnlyHostKeptHandles;
using tovane_test::NoMisuse;

using hostsim::controls::kPercent;
using hostsim::controls::kSecond;

class HostAnswersTest : public EffectTest {
 protected:
  void SetUp() override { SetUpEffectWithScene(); }

  std::vector<ordered_json> CallsNamed(const std::string& name) const {
    std::vector<ordered_json> found;
    for (const ordered_json& call : host_.trace().CallsOfLastCommand()) {
      if (call["call"] == name) found.push_back(call);
    }
    return found;
  }

  // Whether the output shows the effect layer's own checker: its top-left
  // cell is light and opaque, the chosen layer's frame card is not there.
  static bool ShowsTheInput(const FrameResult& frame) {
    return frame.output && frame.output->Get(0, 0).alpha == 1.0f && frame.output->Get(0, 0).red > 0.5f;
  }
};

TEST_F(HostAnswersTest, TheOutputsMaximumRectangleIsTheInputsMaximumNotItsResult) {
  host_.faults().Answer(HostAnswer::kMaxResultRectWider);
  PF_PreRenderOutput output{};
  ASSERT_EQ(session_.SmartPreRender(0, &output), PF_Err_NONE);
  EXPECT_EQ(output.result_rect.left, 0);
  EXPECT_EQ(output.result_rect.right, 1920);
  EXPECT_EQ(output.max_result_rect.left, -16);
  EXPECT_EQ(output.max_result_rect.top, -16);
  EXPECT_EQ(output.max_result_rect.right, 1936);
  EXPECT_EQ(output.max_result_rect.bottom, 1096);
  host_.FreePreRenderData(&output);
}

TEST_F(HostAnswersTest, AZeroSizedFrameWithPixelMemoryPassesTheInputThroughAndIsCheckedIn) {
  for (HostAnswer answer : {HostAnswer::kZeroHeightFrameWithPixels, HostAnswer::kZeroWidthFrameWithPixels}) {
    SCOPED_TRACE(answer == HostAnswer::kZeroHeightFrameWithPixels ? "zero height" : "zero width");
    host_.faults().Clear();
    host_.faults().Answer(answer);
    FrameResult frame = session_.RenderFrame(0);
    EXPECT_EQ(frame.render, PF_Err_NONE);
    const std::vector<ordered_json> copies = CallsNamed("copy");
    ASSERT_EQ(copies.size(), 1u);
    EXPECT_TRUE(copies.front()["src_rect"].is_null()) << "the input is copied whole";
    EXPECT_EQ(Count(CallsOfLastCommand(), "checkin_param"), 1);
    EXPECT_TRUE(ShowsTheInput(frame));
    EXPECT_TRUE(HoldsOnlyHostKeptHandles(host_.holdings()));
    EXPECT_TRUE(NoMisuse(host_));
  }
}

// A real host would crash on a null world handed to the copy; the
// substitute host notes it as a misuse. Each world alone, with a layer
// chosen and without (the pass-through copies the input).
TEST_F(HostAnswersTest, SuccessWithNoWorldIsReportedAndNothingIsCopied) {
  for (HostAnswer answer : {HostAnswer::kNullInputWorldOnSuccess, HostAnswer::kNullOutputWorldOnSuccess}) {
    for (A_long chosen : {2, 0}) {
      SCOPED_TRACE("answer " + std::to_string(static_cast<unsigned>(answer)) + ", layer " + std::to_string(chosen));
      host_.faults().Clear();
      host_.faults().Answer(answer);
      host_.settings().controls[hostsim::controls::kLayer] = chosen;
      FrameResult frame = session_.RenderFrame(0);
      EXPECT_EQ(frame.pre_render, PF_Err_NONE);
      EXPECT_EQ(frame.render, PF_Err_BAD_CALLBACK_PARAM);
      EXPECT_EQ(Count(CallsOfLastCommand(), "copy"), 0);
      EXPECT_EQ(Count(CallsOfLastCommand(), "AEGP_GetEffectLayer"), 0) << "no AEGP object is created";
      EXPECT_TRUE(HoldsOnlyHostKeptHandles(host_.holdings()));
      EXPECT_TRUE(NoMisuse(host_));
      host_.ClearErrors();
    }
  }
}

// With no frame at that time the input passes through first; a refused
// check-in afterwards is reported without undoing the copy.
TEST_F(HostAnswersTest, ARefusedCheckInAfterThePassThroughKeepsTheCopyAndReturnsItsCode) {
  host_.settings().controls[hostsim::controls::kTimeType] = kSecond;
  host_.settings().controls[hostsim::controls::kTimeSec] = 1000.0;  // far past the chosen layer's end: no pixels
  constexpr PF_Err kRefused = 91;
  host_.faults().FailCall("checkin_param", 5, kRefused);  // four in pre-render, then "Layer"
  FrameResult frame = session_.RenderFrame(0);
  EXPECT_EQ(frame.render, kRefused);
  EXPECT_TRUE(ShowsTheInput(frame));
  const std::vector<std::string> calls = CallsOfLastCommand();
  const auto copy = std::find(calls.begin(), calls.end(), "copy");
  const auto checkin = std::find(calls.begin(), calls.end(), "checkin_param");
  ASSERT_NE(copy, calls.end());
  ASSERT_NE(checkin, calls.end());
  EXPECT_LT(copy, checkin);
}

// The source time when the composition's and the chosen layer's time scales
// are not multiples of the frame rate, so that one frame is a fraction of a
// time-scale unit and rounding it would differ from truncating it.
TEST_F(HostAnswersTest, SourceTimeAtTimeScalesThatAreNotAMultipleOfTheFrameRate) {
  const struct {
    const char* what;
    A_u_long comp_scale;
    double frame_rate;
    A_Time in_point, duration;
    A_long time_type;
    double percent, seconds;
    A_long expected;  // composition time value at comp_scale
  } cases[] = {
      // one frame = trunc(45 / 30) = 1: 449 / 45 s after 2 s, at scale 45: trunc(539.0 + 0.5)
      {"100 % at scale 45, 30 fps", 45, 30.0, {90, 45}, {450, 45}, kPercent, 100.0, 0.0, 539},
      // rounding one frame up to 2 would give 269
      {"40 % at scale 45, 30 fps", 45, 30.0, {90, 45}, {450, 45}, kPercent, 40.0, 0.0, 270},
      // one frame = trunc(1000 / 24) = 41: (10000 - 41) / 1000 s
      {"100 % at scale 1000, 24 fps", 1000, 24.0, {0, 1000}, {10000, 1000}, kPercent, 100.0, 0.0, 9959},
      // a duration of less than one frame shortens to 0: the in-point
      {"100 % of half a frame", 45, 30.0, {90, 45}, {1, 90}, kPercent, 100.0, 0.0, 90},
      // so does a negative one, instead of reaching before the in-point
      {"100 % of a negative duration", 45, 30.0, {90, 45}, {-90, 45}, kPercent, 100.0, 0.0, 90},
      // seconds ignore the duration; the in-point's own scale is 90
      {"1.5 s at scale 45", 45, 30.0, {180, 90}, {450, 45}, kSecond, 0.0, 1.5, 158},
      // an in-point before the composition's start
      {"0.25 s after -1 s", 45, 30.0, {-45, 45}, {450, 45}, kSecond, 0.0, 0.25, -33},
      // any other time type takes the in-point
      {"time type 7", 45, 30.0, {91, 45}, {450, 45}, 7, 100.0, 3.0, 91},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    hostsim::CompositionModel comp = tovane_test::TwoLayerComposition();
    comp.time_scale = c.comp_scale;
    comp.frame_rate = c.frame_rate;
    comp.layers[0].in_point = A_Time{0, c.comp_scale};
    comp.layers[0].duration = A_Time{static_cast<A_long>(60 * c.comp_scale), c.comp_scale};
    comp.layers[1].in_point = c.in_point;
    comp.layers[1].duration = c.duration;
    hostsim::EffectSettings settings = tovane_test::ChooseSecondLayer();
    settings.controls[hostsim::controls::kTimeType] = c.time_type;
    settings.controls[hostsim::controls::kTimePercent] = c.percent;
    settings.controls[hostsim::controls::kTimeSec] = c.seconds;
    host_.SetScene(comp, settings);
    session_.RenderFrame(0);
    const std::vector<ordered_json> conversions = CallsNamed("AEGP_ConvertCompToLayerTime");
    ASSERT_EQ(conversions.size(), 1u);
    EXPECT_EQ(conversions.front()["comp_time"]["value"], c.expected);
    EXPECT_EQ(conversions.front()["comp_time"]["scale"], c.comp_scale);
  }
}

}  // namespace
