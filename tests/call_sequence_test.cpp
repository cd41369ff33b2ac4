// Every handler's whole conversation with the host, in order: which host
// functions it calls, with which arguments, and in which order it cleans up,
// on its ordinary paths and on the failure paths where the order of the
// clean-up matters. One table per handler and path.
//
// Suite releases are left out of the order (the handler gives its suites
// back in whatever order it keeps them) and checked as a set instead: each
// suite acquired is given back once.

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "EffectFixture.h"

namespace {

using nlohmann::ordered_json;
using tovane_test::EffectTest;
using tovane_test::HoldsOnlyHostKeptHandles;
using tovane_test::NoMisuse;

// One host call: its name and the arguments (a subset of its trace entry)
// that must hold.
struct Step {
  std::string call;
  ordered_json args = ordered_json::object();
};

Step Acquire(const char* suite, A_long version) { return {"AcquireSuite", {{"name", suite}, {"version", version}}}; }

const Step kAcquireHandles = Acquire("PF Handle Suite", 2);
const Step kAcquireUtility = Acquire("AEGP Utility Suite", 7);
const Step kAcquirePFInterface = Acquire("AEGP PF Interface Suite", 1);
const Step kAcquireEffects = Acquire("AEGP Effect Suite", 2);
const Step kAcquireStreams = Acquire("AEGP Stream Suite", 9);
const Step kAcquireDynamicStreams = Acquire("AEGP Dynamic Stream Suite", 5);
const Step kAcquireLayers = Acquire("AEGP Layer Suite", 13);
const Step kAcquireComps = Acquire("AEGP Comp Suite", 15);

constexpr A_long kPreRenderDataSize = 24;  // two 32-bit popups and two doubles

ordered_json Rect(A_long left, A_long top, A_long right, A_long bottom) {
  return ordered_json::array({left, top, right, bottom});
}

std::string Describe(const std::vector<ordered_json>& calls) {
  std::ostringstream text;
  for (const ordered_json& call : calls) text << "\n  " << call.dump();
  return text.str();
}

// A call the fault plan fails is answered before its body runs, so the trace
// gives its name and result only; `steps` with the first such call's
// expected arguments left out.
std::vector<Step> WithoutArgumentsOf(const std::string& failed, std::vector<Step> steps) {
  for (Step& step : steps) {
    if (step.call == failed) {
      step.args = ordered_json::object();
      break;
    }
  }
  return steps;
}

class CallSequenceTest : public EffectTest {
 protected:
  // The last command's calls, suite releases left out, match `expected` one
  // for one; every suite acquired was given back exactly once.
  void ExpectSequence(const std::vector<Step>& expected) {
    std::vector<ordered_json> calls;
    std::vector<std::string> acquired, released;
    for (const ordered_json& call : host_.trace().CallsOfLastCommand()) {
      const std::string name = call["call"];
      if (name == "ReleaseSuite") {
        released.push_back(call["name"].get<std::string>() + " " + call["version"].dump());
        continue;
      }
      if (name == "AcquireSuite" && call["result"] == 0) {
        acquired.push_back(call["name"].get<std::string>() + " " + call["version"].dump());
      }
      calls.push_back(call);
    }
    std::sort(acquired.begin(), acquired.end());
    std::sort(released.begin(), released.end());
    EXPECT_EQ(acquired, released) << "every suite acquired is given back once";

    ASSERT_EQ(calls.size(), expected.size()) << "the calls made:" << Describe(calls);
    for (std::size_t i = 0; i < calls.size(); ++i) {
      EXPECT_EQ(calls[i]["call"], expected[i].call) << "call " << i << " of:" << Describe(calls);
      for (const auto& [key, value] : expected[i].args.items()) {
        EXPECT_EQ(calls[i][key], value) << "argument " << key << " of call " << i << " of:" << Describe(calls);
      }
    }
  }
};

TEST_F(CallSequenceTest, AboutFormatsTheExactTextAndCallsNothingElse) {
  ASSERT_EQ(session_.About(), PF_Err_NONE);
  const char kText[] = "TovaneParvolith, v1.00\rCopyright 2026 Tovane. All rights reserved.";
  ExpectSequence({{"ansi.sprintf", {{"format", "%s, v%d.%d%d\r%s"}, {"text", kText}}}});
  EXPECT_EQ(session_.about_text(), kText);
}

TEST_F(CallSequenceTest, GlobalSetupRegistersIntoTheLockedHandleAndUnlocksIt) {
  ASSERT_EQ(session_.GlobalSetup(), PF_Err_NONE);
  ExpectSequence({kAcquireHandles,
                  kAcquireUtility,
                  {"host_new_handle", {{"size", 4}}},
                  {"host_lock_handle"},
                  {"AEGP_RegisterWithAEGP", {{"global_refcon", nullptr}, {"plugin_name", "Error!"}}},
                  {"host_unlock_handle"}});
}

TEST_F(CallSequenceTest, GlobalSetupThatFailsUnlocksBeforeItDisposes) {
  const struct {
    const char* fail;
    std::vector<Step> expected;
  } paths[] = {
      {"AEGP_RegisterWithAEGP",
       {kAcquireHandles, kAcquireUtility, {"host_new_handle", {{"size", 4}}}, {"host_lock_handle"},
        {"AEGP_RegisterWithAEGP"}, {"host_unlock_handle"}, {"host_dispose_handle"}}},
      {"host_lock_handle",
       {kAcquireHandles, kAcquireUtility, {"host_new_handle", {{"size", 4}}}, {"host_lock_handle"},
        {"host_unlock_handle"}, {"host_dispose_handle"}}},
      {"host_new_handle", {kAcquireHandles, kAcquireUtility, {"host_new_handle"}}},
  };
  for (const auto& path : paths) {
    SCOPED_TRACE(path.fail);
    host_.faults().FailCall(path.fail, 1);
    EXPECT_NE(session_.GlobalSetup(), PF_Err_NONE);
    host_.faults().Clear();
    ExpectSequence(path.expected);
  }
}

TEST_F(CallSequenceTest, GlobalSetdownDisposesOfTheGlobalHandleOnlyWhenThereIsOne) {
  SetUpEffect();
  ASSERT_EQ(session_.GlobalSetdown(), PF_Err_NONE);
  ExpectSequence({kAcquireHandles, {"host_dispose_handle"}});

  ASSERT_EQ(session_.GlobalSetdown(), PF_Err_NONE);  // the host passes no global data now
  ExpectSequence({});
}

TEST_F(CallSequenceTest, ParamsSetupAddsTheFiveControlsInOrder) {
  ASSERT_EQ(session_.GlobalSetup(), PF_Err_NONE);
  ASSERT_EQ(session_.ParamsSetup(), PF_Err_NONE);
  std::vector<Step> expected;
  A_long id = 1;
  for (const hostsim::controls::SceneControl& control : hostsim::controls::kSceneControls) {
    expected.push_back({"ansi.strcpy", {{"src", control.control}}});
    expected.push_back({"add_param",
                        {{"index", -1},
                         {"name", control.control},
                         {"param_type", control.type},
                         {"id", id++},
                         {"flags", PF_ParamFlag_START_COLLAPSED}}});
  }
  ExpectSequence(expected);
  EXPECT_EQ(session_.out_data().num_params, 6);
}

TEST_F(CallSequenceTest, TheVisibilityUpdateShowsOneSliderAndHidesTheOtherWithoutUndo) {
  SetUpEffect();
  // A bit the host set before the command; the refresh flag joins it.
  constexpr PF_OutFlags kHostsBit = PF_OutFlag_DISPLAY_ERROR_MESSAGE;
  session_.set_record_hook([](PF_Cmd, PF_InData&, PF_OutData& out) { out.out_flags |= kHostsBit; });
  auto change = [](A_long index, A_long hide) {
    return std::vector<Step>{{"AEGP_GetNewEffectStreamByIndex", {{"index", index}}},
                             {"AEGP_SetDynamicStreamFlag",
                              {{"index", index}, {"flag", AEGP_DynStreamFlag_HIDDEN}, {"undoable", 0}, {"set", hide}}},
                             {"AEGP_DisposeStream"}};
  };
  using hostsim::controls::kPercent;
  using hostsim::controls::kSecond;
  const A_long percent = host_.DeclaredIndex(hostsim::controls::kTimePercent);
  const A_long seconds = host_.DeclaredIndex(hostsim::controls::kTimeSec);
  const struct {
    A_long time_type;
    std::vector<std::vector<Step>> changes;
  } cases[] = {
      {kPercent, {change(percent, 0), change(seconds, 1)}},
      {kSecond, {change(percent, 1), change(seconds, 0)}},
      {0, {}},
      {3, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("Time Type " + std::to_string(c.time_type));
    ASSERT_EQ(session_.UpdateParamsUI(hostsim::controls::kTimeType, c.time_type), PF_Err_NONE);
    std::vector<Step> expected = {kAcquirePFInterface, kAcquireEffects};
    if (!c.changes.empty()) {
      expected.push_back(kAcquireStreams);
      expected.push_back(kAcquireDynamicStreams);
    }
    expected.push_back({"AEGP_GetNewEffectForEffect"});
    for (const std::vector<Step>& steps : c.changes) expected.insert(expected.end(), steps.begin(), steps.end());
    expected.push_back({"AEGP_DisposeEffect"});
    ExpectSequence(expected);
    EXPECT_EQ(session_.out_data().out_flags, kHostsBit | PF_OutFlag_REFRESH_UI);
  }
}

TEST_F(CallSequenceTest, AVisibilityUpdateThatFailsStillDisposesOfWhatItObtained) {
  SetUpEffect();
  const std::vector<Step> acquire = {kAcquirePFInterface, kAcquireEffects, kAcquireStreams, kAcquireDynamicStreams};
  const struct {
    const char* fail;
    std::vector<Step> after_acquire;
  } paths[] = {
      {"AEGP_SetDynamicStreamFlag",
       {{"AEGP_GetNewEffectForEffect"}, {"AEGP_GetNewEffectStreamByIndex", {{"index", 4}}},
        {"AEGP_SetDynamicStreamFlag"}, {"AEGP_DisposeStream"}, {"AEGP_DisposeEffect"}}},
      {"AEGP_GetNewEffectStreamByIndex",
       {{"AEGP_GetNewEffectForEffect"}, {"AEGP_GetNewEffectStreamByIndex"}, {"AEGP_DisposeEffect"}}},
      {"AEGP_GetNewEffectForEffect", {{"AEGP_GetNewEffectForEffect"}}},
  };
  for (const auto& path : paths) {
    SCOPED_TRACE(path.fail);
    host_.faults().FailCall(path.fail, 1, 55);
    EXPECT_EQ(session_.UpdateParamsUI(hostsim::controls::kTimeType, 1), 55);
    host_.faults().Clear();
    std::vector<Step> expected = acquire;
    expected.insert(expected.end(), path.after_acquire.begin(), path.after_acquire.end());
    ExpectSequence(expected);
    EXPECT_TRUE(HoldsOnlyHostKeptHandles(host_.holdings()));
  }
}

// ---------------------------------------------------------------------------
// The render passes over the two-layer scene: "Whole", a 1280 x 720 layer
// with its in-point at frame 60 of 30, into a 1920 x 1080 output.

class RenderSequenceTest : public CallSequenceTest {
 protected:
  void SetUp() override { SetUpEffectWithScene(); }

  static std::vector<Step> PreRender() {
    std::vector<Step> steps = {kAcquireHandles, {"host_new_handle", {{"size", kPreRenderDataSize}}},
                               {"host_lock_handle"}};
    for (A_long index : {1, 3, 4, 5}) {
      steps.push_back({"checkout_param", {{"index", index}, {"time", 0}, {"time_scale", 30}}});
    }
    steps.push_back({"checkout_layer",
                     {{"index", 0},
                      {"checkout_id", 0},
                      {"rect", Rect(0, 0, 1920, 1080)},
                      {"preserve_rgb_of_zero_alpha", 1},
                      {"time", 0},
                      {"time_scale", 30}}});
    for (int i = 0; i < 4; ++i) steps.push_back({"checkin_param"});
    return steps;
  }

  // The render pass up to the reading of "Layer".
  static std::vector<Step> RenderUpToTheLayerValue() {
    return {kAcquireHandles,
            {"host_lock_handle"},
            {"checkout_layer_pixels", {{"checkout_id", 0}}},
            {"checkout_output"},
            kAcquirePFInterface,
            {"AEGP_GetEffectLayer"},
            kAcquireLayers,
            {"AEGP_GetLayerParentComp"},
            kAcquireComps,
            {"AEGP_GetCompFramerate"},
            kAcquireEffects,
            kAcquireStreams,
            {"AEGP_GetNewEffectForEffect"},
            {"AEGP_GetNewEffectStreamByIndex", {{"index", 2}}},
            {"AEGP_GetNewStreamValue",
             {{"time_mode", AEGP_LTimeMode_LayerTime},
              {"time", {{"value", 0}, {"scale", 30}}},
              {"pre_expression", 0}}}};
  }

  static std::vector<Step> ChosenLayerTimes() {
    return {{"AEGP_GetLayerFromLayerID", {{"id", 2}}},
            {"AEGP_GetLayerInPoint", {{"time_mode", AEGP_LTimeMode_CompTime}}},
            {"AEGP_GetLayerDuration", {{"time_mode", AEGP_LTimeMode_CompTime}}}};
  }

  static std::vector<Step> Disposals() {
    return {{"AEGP_DisposeStreamValue"}, {"AEGP_DisposeStream"}, {"AEGP_DisposeEffect"}};
  }

  static std::vector<Step> LayerCheckout() {
    return {{"AEGP_ConvertCompToLayerTime", {{"comp_time", {{"value", 60}, {"scale", 30}}}}},
            {"checkout_param", {{"index", 2}, {"time", 60}, {"time_scale", 30}}}};
  }

  static std::vector<Step> Join(std::initializer_list<std::vector<Step>> parts) {
    std::vector<Step> joined;
    for (const std::vector<Step>& part : parts) joined.insert(joined.end(), part.begin(), part.end());
    return joined;
  }

  // One frame with `fail` failing at its nth call (none when null).
  hostsim::FrameResult Frame(const char* fail = nullptr, int nth = 1, PF_Err code = 66) {
    if (fail != nullptr) host_.faults().FailCall(fail, nth, code);
    hostsim::FrameResult frame = session_.RenderFrame(0);
    host_.faults().Clear();
    EXPECT_TRUE(HoldsOnlyHostKeptHandles(host_.holdings()));
    EXPECT_TRUE(NoMisuse(host_));
    return frame;
  }
};

TEST_F(RenderSequenceTest, AChosenLayersFrameIsPlacedAndCheckedInAfterTheCopy) {
  PF_PreRenderOutput output{};
  ASSERT_EQ(session_.SmartPreRender(0, &output), PF_Err_NONE);
  ExpectSequence(PreRender());
  ASSERT_EQ(session_.SmartRender(0, output.pre_render_data, output.result_rect), PF_Err_NONE);
  ExpectSequence(Join({RenderUpToTheLayerValue(), ChosenLayerTimes(), Disposals(), LayerCheckout(),
                       {{"copy", {{"src_rect", Rect(0, 0, 1280, 720)}, {"dst_rect", Rect(0, 0, 1920, 1080)}}},
                        {"checkin_param"}}}));
  host_.FreePreRenderData(&output);
  EXPECT_TRUE(HoldsOnlyHostKeptHandles(host_.holdings()));
}

TEST_F(RenderSequenceTest, WithNoLayerChosenTheStreamIsDisposedOfBeforeTheInputIsCopied) {
  host_.settings().controls[hostsim::controls::kLayer] = 0;
  ASSERT_EQ(Frame().error(), PF_Err_NONE);
  ExpectSequence(Join({RenderUpToTheLayerValue(), Disposals(),
                       {{"copy", {{"src_rect", nullptr}, {"dst_rect", nullptr}}}}}));
}

TEST_F(RenderSequenceTest, WithNoFrameAtThatTimeTheInputIsCopiedBeforeTheCheckIn) {
  host_.settings().controls[hostsim::controls::kTimeType] = 2;
  host_.settings().controls[hostsim::controls::kTimeSec] = 1000.0;  // past the chosen layer's end
  ASSERT_EQ(Frame().error(), PF_Err_NONE);
  std::vector<Step> layer_checkout = LayerCheckout();
  layer_checkout[0].args = ordered_json::object();
  layer_checkout[1].args = {{"index", 2}};
  ExpectSequence(Join({RenderUpToTheLayerValue(), ChosenLayerTimes(), Disposals(), layer_checkout,
                       {{"copy", {{"src_rect", nullptr}, {"dst_rect", nullptr}}}, {"checkin_param"}}}));
}

TEST_F(RenderSequenceTest, ARenderPassThatFailsDisposesOfItsReferencesInOrderAndCopiesNothing) {
  const struct {
    const char* fail;
    std::vector<Step> expected;
  } paths[] = {
      {"AEGP_GetNewStreamValue", Join({RenderUpToTheLayerValue(), Disposals()})},
      {"AEGP_GetLayerInPoint",
       Join({RenderUpToTheLayerValue(), {ChosenLayerTimes()[0], ChosenLayerTimes()[1]}, Disposals()})},
      {"AEGP_DisposeStreamValue", Join({RenderUpToTheLayerValue(), ChosenLayerTimes(), Disposals()})},
      {"AEGP_ConvertCompToLayerTime",
       Join({RenderUpToTheLayerValue(), ChosenLayerTimes(), Disposals(), {LayerCheckout()[0]}})},
      {"checkout_output",
       {kAcquireHandles, {"host_lock_handle"}, {"checkout_layer_pixels"}, {"checkout_output"}}},
  };
  for (const auto& path : paths) {
    SCOPED_TRACE(path.fail);
    EXPECT_EQ(Frame(path.fail).render, 66);
    ExpectSequence(WithoutArgumentsOf(path.fail, path.expected));
  }
}

TEST_F(RenderSequenceTest, AFailedCopyIsStillFollowedByTheCheckInAndKeepsItsCode) {
  EXPECT_EQ(Frame("copy").render, 66);
  ExpectSequence(Join({RenderUpToTheLayerValue(), ChosenLayerTimes(), Disposals(), LayerCheckout(),
                       {{"copy"}, {"checkin_param"}}}));

  host_.faults().FailCall("checkin_param", 5, 88);  // four in pre-render, then "Layer"
  EXPECT_EQ(Frame("copy").render, 66) << "the check-in's code does not replace the copy's";
}

// A frame of the output's exact size is copied whole whatever the mode, also
// at odd sizes, where "Center"'s integer halves would lose a pixel.
TEST_F(RenderSequenceTest, AFrameOfTheOutputsOddSizeIsCopiedWholeInEveryMode) {
  hostsim::CompositionModel comp = tovane_test::TwoLayerComposition();
  for (hostsim::LayerModel& layer : comp.layers) {
    layer.width = 1921;
    layer.height = 1081;
  }
  for (A_long mode = 1; mode <= 4; ++mode) {
    SCOPED_TRACE("mode " + std::to_string(mode));
    hostsim::EffectSettings settings = tovane_test::ChooseSecondLayer();
    settings.controls[hostsim::controls::kMode] = mode;
    host_.SetScene(comp, settings);
    ASSERT_EQ(Frame().error(), PF_Err_NONE);
    ExpectSequence(Join({RenderUpToTheLayerValue(), ChosenLayerTimes(), Disposals(), LayerCheckout(),
                         {{"copy", {{"src_rect", Rect(0, 0, 1921, 1081)}, {"dst_rect", Rect(0, 0, 1921, 1081)}}},
                          {"checkin_param"}}}));
  }
}

TEST_F(RenderSequenceTest, APreRenderThatFailsChecksInOnlyWhatItCheckedOut) {
  PF_PreRenderOutput output{};
  host_.faults().FailCall("checkout_param", 3, 66);
  EXPECT_EQ(session_.SmartPreRender(0, &output), 66);
  host_.faults().Clear();
  ExpectSequence({kAcquireHandles,
                  {"host_new_handle", {{"size", kPreRenderDataSize}}},
                  {"host_lock_handle"},
                  {"checkout_param", {{"index", 1}}},
                  {"checkout_param", {{"index", 3}}},
                  {"checkout_param"},  // failed before it was answered, so traced without its arguments
                  {"checkin_param"},
                  {"checkin_param"}});
  host_.FreePreRenderData(&output);
}

}  // namespace
