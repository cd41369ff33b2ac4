// The effect's whole job seen from the host: which rectangles the render pass
// hands to the copy for each mode, which frame of the chosen layer it asks
// for, what it requests in pre-render, and what every failure leaves behind.

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "EffectFixture.h"
#include "pixels/PixelSource.h"

namespace {

using hostsim::BitDepth;
using hostsim::FrameResult;
using nlohmann::ordered_json;
using tovane_test::EffectTest;
using tovane_test::HoldsNothing;
using tovane_test::HoldsOnlyHostKeptHandles;
using tovane_test::NoMisuse;

using controls::kCenter;
using controls::kFitToLayer;
using controls::kNoMargin;
using controls::kPercent;
using controls::kSecond;
using controls::kWhole;

ordered_json Rect(A_long left, A_long top, A_long right, A_long bottom) {
  return ordered_json::array({left, top, right, bottom});
}

// A scene whose effect layer (id 1) is ow x oh and whose chosen layer (id 2)
// is a lw x lh frame card covering the composition's whole first 10 s.
hostsim::CompositionModel PlacementScene(A_long lw, A_long lh, A_long ow, A_long oh) {
  hostsim::CompositionModel comp = tovane_test::TwoLayerComposition();
  comp.layers[0].width = ow;
  comp.layers[0].height = oh;
  comp.layers[0].source = std::make_shared<hostsim::CheckerSource>(16, ow, oh);
  comp.layers[1].width = lw;
  comp.layers[1].height = lh;
  comp.layers[1].in_point = A_Time{0, 30};
  comp.layers[1].duration = A_Time{300, 30};
  return comp;
}

class RenderTest : public EffectTest {
 protected:
  // Global and params setup over a scene, with the chosen layer and mode.
  void SetUpScene(hostsim::CompositionModel comp, A_long mode) {
    hostsim::EffectSettings settings = tovane_test::ChooseSecondLayer();
    settings.controls[controls::kMode] = mode;
    host_.SetScene(std::move(comp), settings);
    SetUpEffect();
  }

  // The one "copy" the most recent render pass made.
  ordered_json OnlyCopyOfLastCommand() const {
    std::vector<ordered_json> copies;
    for (const ordered_json& call : host_.trace().CallsOfLastCommand()) {
      if (call["call"] == "copy") copies.push_back(call);
    }
    EXPECT_EQ(copies.size(), 1u) << "copies in the render pass";
    return copies.empty() ? ordered_json() : copies.front();
  }

  // The "Layer" checkout of the most recent render pass.
  ordered_json LayerCheckoutOfLastCommand() const {
    for (const ordered_json& call : host_.trace().CallsOfLastCommand()) {
      if (call["call"] == "checkout_param" && call["index"] == 2) return call;
    }
    ADD_FAILURE() << "the render pass checked out no \"Layer\"";
    return ordered_json();
  }

  // Renders the frame at effect-layer time 0 and expects success with
  // nothing left held.
  FrameResult RenderExpectingSuccess(A_long current_time = 0) {
    FrameResult frame = session_.RenderFrame(current_time);
    EXPECT_EQ(frame.pre_render, PF_Err_NONE);
    EXPECT_EQ(frame.render, PF_Err_NONE);
    EXPECT_TRUE(HoldsOnlyHostKeptHandles(host_.holdings()));
    EXPECT_TRUE(NoMisuse(host_));
    return frame;
  }
};

// ---------------------------------------------------------------------------
// Placement

struct PlacementRow {
  A_long lw, lh, ow, oh, mode;
  std::vector<A_long> src, dst;
};

std::string Describe(const PlacementRow& row) {
  static const char* const kNames[] = {"mode 0", "Center", "Whole", "No Margin", "Fit to Layer"};
  const std::string mode = row.mode >= 0 && row.mode <= 4 ? kNames[row.mode] : "mode " + std::to_string(row.mode);
  return std::to_string(row.lw) + "x" + std::to_string(row.lh) + " frame, " + mode + ", " +
         std::to_string(row.ow) + "x" + std::to_string(row.oh) + " output";
}

const PlacementRow kPlacementRows[] = {
    {1280, 720, 1920, 1080, kCenter, {-320, -180, 1600, 900}, {0, 0, 1920, 1080}},
    {1280, 720, 1920, 1080, kWhole, {0, 0, 1280, 720}, {0, 0, 1920, 1080}},
    {1280, 720, 1920, 1080, kNoMargin, {0, 0, 1280, 720}, {0, 0, 1920, 1080}},
    {720, 1280, 1920, 1080, kCenter, {-600, 100, 1320, 1180}, {0, 0, 1920, 1080}},
    {720, 1280, 1920, 1080, kWhole, {0, 0, 720, 1280}, {656, 0, 1264, 1080}},
    {720, 1280, 1920, 1080, kNoMargin, {0, 438, 720, 843}, {0, 0, 1920, 1080}},
    {1920, 480, 1920, 1080, kWhole, {0, 0, 1920, 480}, {0, 300, 1920, 780}},
    {1920, 480, 1920, 1080, kNoMargin, {533, 0, 1387, 480}, {0, 0, 1920, 1080}},
    {1000, 1000, 1920, 1080, kWhole, {0, 0, 1000, 1000}, {420, 0, 1500, 1080}},
    {1000, 1000, 1920, 1080, kNoMargin, {0, 219, 1000, 781}, {0, 0, 1920, 1080}},
    {3840, 2160, 1920, 1080, kCenter, {960, 540, 2880, 1620}, {0, 0, 1920, 1080}},
    {720, 1280, 1920, 1080, kFitToLayer, {0, 0, 720, 1280}, {0, 0, 1920, 1080}},
    {3840, 2160, 1920, 1080, kFitToLayer, {0, 0, 3840, 2160}, {0, 0, 1920, 1080}},
    // A frame of the output's size is copied whole whatever the mode.
    {1920, 1080, 1920, 1080, kCenter, {0, 0, 1920, 1080}, {0, 0, 1920, 1080}},
    {1920, 1080, 1920, 1080, kNoMargin, {0, 0, 1920, 1080}, {0, 0, 1920, 1080}},
    // Odd output sizes lose a pixel to the integer halves, so the copy scales slightly.
    {1280, 720, 1921, 1081, kCenter, {-320, -180, 1600, 900}, {0, 0, 1921, 1081}},
    {1921, 1081, 1920, 1080, kCenter, {0, 0, 1920, 1080}, {0, 0, 1920, 1080}},
    // Mode values a damaged project may hold stretch like "Fit to Layer".
    {720, 1280, 1920, 1080, 0, {0, 0, 720, 1280}, {0, 0, 1920, 1080}},
    {720, 1280, 1920, 1080, 99, {0, 0, 720, 1280}, {0, 0, 1920, 1080}},
};

class PlacementTest : public RenderTest, public ::testing::WithParamInterface<BitDepth> {};

TEST_P(PlacementTest, EachModeHandsTheCopyTheRectanglesOfItsRule) {
  for (const PlacementRow& row : kPlacementRows) {
    SCOPED_TRACE(Describe(row) + " at " + std::to_string(static_cast<int>(GetParam())) + " bits");
    host_.SetScene(PlacementScene(row.lw, row.lh, row.ow, row.oh), host_.settings());
    host_.settings() = tovane_test::ChooseSecondLayer();
    host_.settings().controls[controls::kMode] = row.mode;
    host_.SetBitDepth(GetParam());
    if (host_.global_data() == nullptr) SetUpEffect();
    host_.trace().Clear();

    FrameResult frame = RenderExpectingSuccess();
    const ordered_json copy = OnlyCopyOfLastCommand();
    EXPECT_EQ(copy["src_rect"], Rect(row.src[0], row.src[1], row.src[2], row.src[3]));
    EXPECT_EQ(copy["dst_rect"], Rect(row.dst[0], row.dst[1], row.dst[2], row.dst[3]));

    // The pixels really moved: where the source rectangle starts at the
    // frame's edge, the destination's corner shows the plain band of the
    // served frame's card, at every depth.
    ASSERT_TRUE(frame.output);
    if (row.src[0] >= 0 && row.src[1] >= 0 && (row.src[0] <= 2 || row.src[1] <= 2)) {
      const A_long served = LayerCheckoutOfLastCommand()["frame"].get<A_long>();
      const A_long x = row.dst[0] + 3, y = row.dst[1] + 3;
      const PF_PixelFloat p = frame.output->Get(x, y);
      const PF_Pixel8 expected = hostsim::FrameCardColor(served);
      EXPECT_NEAR(p.red * 255.0f, expected.red, 13.0f) << "at (" << x << ", " << y << ")";
      EXPECT_NEAR(p.green * 255.0f, expected.green, 13.0f) << "at (" << x << ", " << y << ")";
      EXPECT_NEAR(p.blue * 255.0f, expected.blue, 13.0f) << "at (" << x << ", " << y << ")";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(AtEveryDepth, PlacementTest, ::testing::Values(BitDepth::k8, BitDepth::k16, BitDepth::k32),
                         [](const ::testing::TestParamInfo<BitDepth>& info) {
                           return std::to_string(static_cast<int>(info.param)) + "bits";
                         });

TEST_F(RenderTest, WholeLeavesTheLetterboxAsTheHostGaveItAndCenterReadsTransparentPastTheFrame) {
  SetUpScene(PlacementScene(1920, 480, 1920, 1080), kWhole);
  FrameResult whole = RenderExpectingSuccess();
  ASSERT_TRUE(whole.output);
  EXPECT_EQ(whole.output->Get(960, 100).alpha, 0.0f) << "above the letterboxed frame";
  EXPECT_EQ(whole.output->Get(960, 540).alpha, 1.0f) << "inside the frame";

  host_.SetScene(PlacementScene(1280, 720, 1920, 1080), host_.settings());
  host_.settings().controls[controls::kMode] = kCenter;
  FrameResult center = RenderExpectingSuccess();
  ASSERT_TRUE(center.output);
  EXPECT_EQ(center.output->Get(10, 10).alpha, 0.0f) << "outside the centred frame";
  EXPECT_EQ(center.output->Get(960, 540).alpha, 1.0f);
}

TEST_F(RenderTest, ThirtyTwoBitOutputStaysFiniteAndTheInputWorldUntouched) {
  SetUpScene(PlacementScene(720, 1280, 1920, 1080), kNoMargin);
  host_.SetBitDepth(BitDepth::k32);
  FrameResult frame = RenderExpectingSuccess();
  ASSERT_TRUE(frame.output);
  for (A_long y = 0; y < frame.output->height(); y += 37) {
    for (A_long x = 0; x < frame.output->width(); x += 41) {
      const PF_PixelFloat p = frame.output->Get(x, y);
      ASSERT_TRUE(std::isfinite(p.alpha) && std::isfinite(p.red) && std::isfinite(p.green) && std::isfinite(p.blue))
          << "at (" << x << ", " << y << ")";
    }
  }
}

// ---------------------------------------------------------------------------
// Source time: the chosen layer has in-point 2 s (60/30) and lasts 10 s
// (300/30); the composition runs at 30 fps with time scale 30, so one frame
// is 1/30 s and the shortened duration 299/30 s.

struct SourceTimeCase {
  const char* what;
  A_long time_type;
  double percent, seconds;
  A_long expected_time;
};

TEST_F(RenderTest, TheChosenLayerIsCheckedOutAtInPointPlusTheOffsetOfTheTimeType) {
  SetUpEffectWithScene();
  const SourceTimeCase cases[] = {
      {"Percent 50", kPercent, 50.0, 0.0, 210},
      {"Percent 100 is the layer's last frame", kPercent, 100.0, 0.0, 359},
      {"Percent 0 is the in-point", kPercent, 0.0, 0.0, 60},
      {"Percent 37.5", kPercent, 37.5, 0.0, 172},
      {"Second 1.5", kSecond, 0.0, 1.5, 105},
      {"Second 0 is the in-point", kSecond, 50.0, 0.0, 60},
      {"a Time Type of 3 is the in-point", 3, 100.0, 5.0, 60},
      {"a Time Type of 0 is the in-point", 0, 100.0, 5.0, 60},
  };
  for (const SourceTimeCase& c : cases) {
    SCOPED_TRACE(c.what);
    host_.settings().controls[controls::kTimeType] = c.time_type;
    host_.settings().controls[controls::kTimePercent] = c.percent;
    host_.settings().controls[controls::kTimeSec] = c.seconds;
    RenderExpectingSuccess();
    const ordered_json checkout = LayerCheckoutOfLastCommand();
    EXPECT_EQ(checkout["time"], c.expected_time);
    EXPECT_EQ(checkout["time_scale"], 30);
  }
}

TEST_F(RenderTest, TheFrameNumberCardShowsWhichFrameReachedTheOutput) {
  SetUpEffectWithScene();
  host_.settings().controls[controls::kMode] = kFitToLayer;
  const struct {
    double percent;
    A_long frame;
  } cases[] = {{100.0, 359}, {0.0, 60}, {50.0, 210}};
  for (const auto& c : cases) {
    SCOPED_TRACE("Percent " + std::to_string(c.percent));
    host_.settings().controls[controls::kTimePercent] = c.percent;
    FrameResult frame = RenderExpectingSuccess();
    ASSERT_TRUE(frame.output);
    const PF_Pixel8 corner = frame.output->At<PF_Pixel8>(3, 3);
    EXPECT_EQ(hostsim::FrameCardIndexOf(corner), c.frame % 512);
    EXPECT_EQ(LayerCheckoutOfLastCommand()["frame"], c.frame);
  }
}

TEST_F(RenderTest, TheSourceTimeIsConvertedIntoTheEffectLayersOwnTime) {
  hostsim::CompositionModel comp = tovane_test::TwoLayerComposition();
  comp.layers[0].start = A_Time{30, 30};  // the effect layer's time 0 sits at 1 s
  host_.SetScene(comp, tovane_test::ChooseSecondLayer());
  SetUpEffect();
  host_.settings().controls[controls::kTimePercent] = 100.0;
  RenderExpectingSuccess();
  const ordered_json checkout = LayerCheckoutOfLastCommand();
  EXPECT_EQ(checkout["time"], 359 - 30);
  EXPECT_EQ(checkout["frame"], 359) << "the same frame of the chosen layer is served";
}

TEST_F(RenderTest, ADurationOfOneFrameOrLessAlwaysGivesTheInPoint) {
  for (A_long duration : {1, 0, -5}) {
    SCOPED_TRACE("duration " + std::to_string(duration) + "/30");
    hostsim::CompositionModel comp = tovane_test::TwoLayerComposition();
    comp.layers[1].duration = A_Time{duration, 30};
    host_.SetScene(comp, tovane_test::ChooseSecondLayer());
    if (host_.global_data() == nullptr) SetUpEffect();
    host_.settings().controls[controls::kTimePercent] = 100.0;
    RenderExpectingSuccess();
    EXPECT_EQ(LayerCheckoutOfLastCommand()["time"], 60);
  }
}

TEST_F(RenderTest, OneFrameFollowsTheCompositionsFrameRate) {
  // 29.97 fps with a duration scale of 30000: one frame is trunc(30000 / 29.97) = 1001.
  hostsim::CompositionModel comp = tovane_test::TwoLayerComposition();
  comp.frame_rate = 29.97;
  comp.time_scale = 30000;
  comp.layers[1].in_point = A_Time{0, 30000};
  comp.layers[1].duration = A_Time{300300, 30000};
  comp.layers[1].frame_rate = 29.97;
  host_.SetScene(comp, tovane_test::ChooseSecondLayer());
  SetUpEffect();
  host_.settings().controls[controls::kTimePercent] = 100.0;
  RenderExpectingSuccess();
  const ordered_json checkout = LayerCheckoutOfLastCommand();
  EXPECT_EQ(checkout["time"], 300300 - 1001);
  EXPECT_EQ(checkout["time_scale"], 30000);
}

// ---------------------------------------------------------------------------
// Pass-through

TEST_F(RenderTest, WithNoLayerChosenTheInputIsCopiedUnchanged) {
  SetUpEffectWithScene();
  host_.settings().controls[controls::kLayer] = 0;
  FrameResult frame = RenderExpectingSuccess();
  const ordered_json copy = OnlyCopyOfLastCommand();
  EXPECT_TRUE(copy["src_rect"].is_null());
  EXPECT_TRUE(copy["dst_rect"].is_null());
  EXPECT_EQ(tovane_test::Count(host_.trace().CallNamesOfLastCommand(), "checkout_param"), 0);
  ASSERT_TRUE(frame.output);
  // The effect layer is a checker whose top-left cell is light and opaque.
  EXPECT_EQ(frame.output->Get(0, 0).alpha, 1.0f);
  EXPECT_GT(frame.output->Get(0, 0).red, 0.5f);
}

TEST_F(RenderTest, WhenTheChosenLayerHasNoFrameAtThatTimeTheInputPassesThroughAndTheCheckoutIsReturned) {
  SetUpEffectWithScene();
  host_.settings().controls[controls::kTimeType] = kSecond;
  host_.settings().controls[controls::kTimeSec] = 1000.0;  // far past the chosen layer's end: no pixels
  RenderExpectingSuccess();
  EXPECT_TRUE(LayerCheckoutOfLastCommand()["frame"].is_null());
  const ordered_json copy = OnlyCopyOfLastCommand();
  EXPECT_TRUE(copy["src_rect"].is_null());
  EXPECT_EQ(tovane_test::Count(host_.trace().CallNamesOfLastCommand(), "checkin_param"), 1);
}

TEST_F(RenderTest, FootageShorterThanItsLayerShowsNothingPastItsLastFrame) {
  hostsim::CompositionModel comp = tovane_test::TwoLayerComposition();
  comp.layers[1].source = std::make_shared<hostsim::FrameCardSource>("short clip", 100);
  host_.SetScene(comp, tovane_test::ChooseSecondLayer());
  SetUpEffect();
  host_.settings().controls[controls::kTimePercent] = 100.0;  // frame 359 of a 100-frame clip
  RenderExpectingSuccess();
  EXPECT_TRUE(LayerCheckoutOfLastCommand()["frame"].is_null());
  EXPECT_TRUE(OnlyCopyOfLastCommand()["src_rect"].is_null()) << "the input passes through";
}

TEST_F(RenderTest, AZeroSizedFrameIsCheckedInAndTheInputPassesThrough) {
  for (const auto& size : {std::pair<A_long, A_long>{0, 720}, {1280, 0}}) {
    SCOPED_TRACE(std::to_string(size.first) + "x" + std::to_string(size.second));
    hostsim::CompositionModel comp = tovane_test::TwoLayerComposition();
    comp.layers[1].width = size.first;
    comp.layers[1].height = size.second;
    host_.SetScene(comp, tovane_test::ChooseSecondLayer());
    if (host_.global_data() == nullptr) SetUpEffect();
    RenderExpectingSuccess();
    const ordered_json copy = OnlyCopyOfLastCommand();
    EXPECT_TRUE(copy["src_rect"].is_null()) << "the input is copied whole";
    EXPECT_EQ(tovane_test::Count(host_.trace().CallNamesOfLastCommand(), "checkin_param"), 1);
  }
}

// ---------------------------------------------------------------------------
// Pre-render: what is asked of the host

TEST_F(RenderTest, PreRenderAsksForTheWholeInputAtTheCurrentResolution) {
  const struct {
    A_long width, height;
    PF_RationalScale x, y;
    std::vector<A_long> rect;
  } cases[] = {
      {1920, 1080, {1, 1}, {1, 1}, {0, 0, 1920, 1080}},
      {1920, 1080, {1, 2}, {1, 2}, {0, 0, 960, 540}},
      {1921, 1081, {1, 2}, {1, 2}, {0, 0, 961, 541}},
      {1000, 999, {1, 3}, {2, 3}, {0, 0, 333, 666}},
      {1000, 1000, {2, 3}, {1, 3}, {0, 0, 667, 333}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + " at " + std::to_string(c.x.num) + "/" +
                 std::to_string(c.x.den) + ", " + std::to_string(c.y.num) + "/" + std::to_string(c.y.den));
    host_.SetScene(PlacementScene(1280, 720, c.width, c.height), tovane_test::ChooseSecondLayer());
    host_.SetDownsample(c.x, c.y);
    if (host_.global_data() == nullptr) SetUpEffect();
    // The host asks for a corner only and does not ask to keep zero-alpha colour.
    PF_RenderRequest request = session_.output_request();
    request.rect = PF_LRect{10, 10, 50, 50};
    request.preserve_rgb_of_zero_alpha = false;
    session_.set_output_request(request);

    RenderExpectingSuccess();
    const std::vector<ordered_json> checkouts = host_.trace().Calls("checkout_layer");
    ASSERT_FALSE(checkouts.empty());
    EXPECT_EQ(checkouts.back()["rect"], Rect(c.rect[0], c.rect[1], c.rect[2], c.rect[3]));
    EXPECT_EQ(checkouts.back()["preserve_rgb_of_zero_alpha"], 1);
  }
}

TEST_F(RenderTest, PreRenderMergesTheInputsExtentIntoTheOutputRectanglesAndKeepsTheHostsFlags) {
  SetUpEffectWithScene();

  PF_PreRenderOutput empty_host_rect{};
  empty_host_rect.result_rect = PF_LRect{5, 5, 5, 100};  // empty: replaced by the input's
  empty_host_rect.flags = 0x10;
  ASSERT_EQ(session_.SmartPreRender(0, &empty_host_rect), PF_Err_NONE);
  EXPECT_EQ(empty_host_rect.result_rect.left, 0);
  EXPECT_EQ(empty_host_rect.result_rect.top, 0);
  EXPECT_EQ(empty_host_rect.result_rect.right, 1920);
  EXPECT_EQ(empty_host_rect.result_rect.bottom, 1080);
  EXPECT_EQ(empty_host_rect.max_result_rect.right, 1920);
  EXPECT_EQ(empty_host_rect.flags, 0x10 | PF_RenderOutputFlag_RETURNS_EXTRA_PIXELS);
  host_.FreePreRenderData(&empty_host_rect);

  PF_PreRenderOutput wider_host_rect{};
  wider_host_rect.result_rect = PF_LRect{-50, 100, 2000, 200};  // non-empty: the bounding box
  ASSERT_EQ(session_.SmartPreRender(0, &wider_host_rect), PF_Err_NONE);
  EXPECT_EQ(wider_host_rect.result_rect.left, -50);
  EXPECT_EQ(wider_host_rect.result_rect.top, 0);
  EXPECT_EQ(wider_host_rect.result_rect.right, 2000);
  EXPECT_EQ(wider_host_rect.result_rect.bottom, 1080);
  host_.FreePreRenderData(&wider_host_rect);
  EXPECT_TRUE(HoldsOnlyHostKeptHandles(host_.holdings()));
}

TEST_F(RenderTest, PreRenderReturnsEveryParameterItChecksOut) {
  SetUpEffectWithScene();
  PF_PreRenderOutput output{};
  ASSERT_EQ(session_.SmartPreRender(0, &output), PF_Err_NONE);
  const std::vector<std::string> calls = host_.trace().CallNamesOfLastCommand();
  EXPECT_EQ(tovane_test::Count(calls, "checkout_param"), 4);
  EXPECT_EQ(tovane_test::Count(calls, "checkin_param"), 4);
  EXPECT_EQ(host_.holdings().checked_out_params, 0);
  EXPECT_EQ(host_.holdings().pre_render_handles, 1) << "the record's handle is left with the host";
  host_.FreePreRenderData(&output);
}

// ---------------------------------------------------------------------------
// Failures: each returns its code and leaves nothing held but the handles the
// host keeps.

class RenderFailureTest : public RenderTest {
 protected:
  void SetUp() override { SetUpEffectWithScene(); }

  // Fails the nth call of `call` during one frame and checks the frame's code.
  FrameResult FrameWithFailure(const std::string& call, int nth, PF_Err code) {
    host_.faults().FailCall(call, nth, code);
    FrameResult frame = session_.RenderFrame(0);
    host_.faults().Clear();
    EXPECT_TRUE(HoldsOnlyHostKeptHandles(host_.holdings())) << "after failing " << call << " #" << nth;
    EXPECT_TRUE(NoMisuse(host_));
    return frame;
  }
};

TEST_F(RenderFailureTest, PreRenderHandleFailuresReportOutOfMemoryAndHandTheHostNoHandle) {
  PF_PreRenderOutput output{};
  host_.faults().FailCall("host_new_handle", 1, PF_Err_OUT_OF_MEMORY);
  EXPECT_EQ(session_.SmartPreRender(0, &output), PF_Err_OUT_OF_MEMORY);
  EXPECT_EQ(output.pre_render_data, nullptr);
  EXPECT_EQ(output.flags, 0);
  host_.faults().Clear();

  host_.faults().FailCall("host_lock_handle", 1, PF_Err_OUT_OF_MEMORY);
  EXPECT_EQ(session_.SmartPreRender(0, &output), PF_Err_OUT_OF_MEMORY);
  EXPECT_EQ(output.pre_render_data, nullptr);
  EXPECT_EQ(output.flags, 0);
  EXPECT_TRUE(HoldsOnlyHostKeptHandles(host_.holdings())) << "the unlockable handle is disposed of";
  EXPECT_EQ(host_.holdings().pre_render_handles, 0);
}

TEST_F(RenderFailureTest, AFailedParameterCheckoutStopsPreRenderBeforeTheLayerRequest) {
  FrameResult frame = FrameWithFailure("checkout_param", 3, PF_Err_INVALID_INDEX);
  EXPECT_EQ(frame.pre_render, PF_Err_INVALID_INDEX);
  EXPECT_FALSE(frame.rendered);
  EXPECT_EQ(frame.pre_render_output.flags, 0) << "flags untouched";
  const std::vector<std::string> calls = host_.trace().CallNamesOfLastCommand();
  EXPECT_EQ(tovane_test::Count(calls, "checkout_param"), 3);
  EXPECT_EQ(tovane_test::Count(calls, "checkin_param"), 2) << "the two that succeeded go back";
  EXPECT_EQ(tovane_test::Count(calls, "checkout_layer"), 0);
}

TEST_F(RenderFailureTest, AFailedLayerRequestLeavesTheFlagSetAndTheRectanglesAlone) {
  FrameResult frame = FrameWithFailure("checkout_layer", 1, PF_Err_INTERNAL_STRUCT_DAMAGED);
  EXPECT_EQ(frame.pre_render, PF_Err_INTERNAL_STRUCT_DAMAGED);
  EXPECT_EQ(frame.pre_render_output.flags, PF_RenderOutputFlag_RETURNS_EXTRA_PIXELS);
  EXPECT_EQ(frame.pre_render_output.result_rect.right, 0);
}

TEST_F(RenderFailureTest, EveryRenderPassCallThatFailsReturnsItsCodeAndCopiesNothing) {
  const char* const calls[] = {"checkout_layer_pixels",
                               "checkout_output",
                               "AEGP_GetEffectLayer",
                               "AEGP_GetLayerParentComp",
                               "AEGP_GetCompFramerate",
                               "AEGP_GetNewEffectForEffect",
                               "AEGP_GetNewEffectStreamByIndex",
                               "AEGP_GetNewStreamValue",
                               "AEGP_GetLayerFromLayerID",
                               "AEGP_GetLayerInPoint",
                               "AEGP_GetLayerDuration",
                               "AEGP_DisposeStreamValue",
                               "AEGP_DisposeStream",
                               "AEGP_DisposeEffect",
                               "AEGP_ConvertCompToLayerTime",
                               "checkout_param"};
  for (const char* call : calls) {
    SCOPED_TRACE(call);
    // checkout_param is also called four times in pre-render.
    const int nth = std::string(call) == "checkout_param" ? 5 : 1;
    FrameResult frame = FrameWithFailure(call, nth, 1234);
    EXPECT_EQ(frame.pre_render, PF_Err_NONE);
    EXPECT_EQ(frame.render, 1234);
    EXPECT_EQ(tovane_test::Count(host_.trace().CallNamesOfLastCommand(), "copy"), 0);
  }
}

TEST_F(RenderFailureTest, AFailedCopyIsReportedAndTheLayerStillCheckedIn) {
  FrameResult frame = FrameWithFailure("copy", 1, 77);
  EXPECT_EQ(frame.render, 77);
  const std::vector<std::string> calls = host_.trace().CallNamesOfLastCommand();
  EXPECT_EQ(tovane_test::Count(calls, "checkin_param"), 1);
}

TEST_F(RenderFailureTest, ACheckInFailureAfterASuccessfulCopyIsReported) {
  FrameResult frame = FrameWithFailure("checkin_param", 5, 88);  // four in pre-render, then "Layer"
  EXPECT_EQ(frame.render, 88);
}

TEST_F(RenderFailureTest, AnUnreadablePreRenderHandleStopsRenderBeforeAnyOtherCall) {
  FrameResult frame = FrameWithFailure("host_lock_handle", 2, PF_Err_OUT_OF_MEMORY);  // 1: pre-render's lock
  EXPECT_EQ(frame.render, PF_Err_BAD_CALLBACK_PARAM);
  for (const std::string& call : host_.trace().CallNamesOfLastCommand()) {
    EXPECT_TRUE(call == "AcquireSuite" || call == "ReleaseSuite" || call == "host_lock_handle") << call;
  }
}

TEST_F(RenderFailureTest, AMissingSuiteAnywhereInRenderLeavesNoReferenceBehind) {
  const struct {
    const char* name;
    A_long version;
  } suites[] = {{"PF Handle Suite", 2},         {"AEGP PF Interface Suite", 1}, {"AEGP Layer Suite", 13},
                {"AEGP Comp Suite", 15},        {"AEGP Effect Suite", 2},        {"AEGP Stream Suite", 9}};
  for (const auto& suite : suites) {
    SCOPED_TRACE(suite.name);
    // Pre-render succeeds first; the suite then goes missing for the render pass.
    PF_PreRenderOutput output{};
    ASSERT_EQ(session_.SmartPreRender(0, &output), PF_Err_NONE);
    host_.faults().RefuseSuite(suite.name, suite.version);
    EXPECT_EQ(session_.SmartRender(0, output.pre_render_data, output.result_rect), PF_Err_BAD_CALLBACK_PARAM);
    host_.faults().Clear();
    host_.FreePreRenderData(&output);
    EXPECT_TRUE(HoldsOnlyHostKeptHandles(host_.holdings()));
    EXPECT_TRUE(NoMisuse(host_));
  }
}

TEST_F(RenderFailureTest, WithoutGlobalDataRenderCallsNothingAndReportsDamage) {
  PF_PreRenderOutput output{};
  ASSERT_EQ(session_.SmartPreRender(0, &output), PF_Err_NONE);
  const PF_Handle global = host_.global_data();
  host_.set_global_data(nullptr);
  EXPECT_EQ(session_.SmartRender(0, output.pre_render_data, output.result_rect), PF_Err_INTERNAL_STRUCT_DAMAGED);
  EXPECT_TRUE(host_.trace().CallNamesOfLastCommand().empty());
  host_.set_global_data(global);
  host_.FreePreRenderData(&output);
}

}  // namespace
