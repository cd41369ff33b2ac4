// What each failing host call does to the effect's global lifecycle and to
// the start of its render passes: the code that comes back, and that nothing
// is left held or half-stored.
#include <algorithm>
#include <cstring>

#include "EffectFixture.h"

namespace tovane_test {
namespace {

class GlobalSetupFailureTest : public EffectTest {
 protected:
  void ExpectAnnouncedAnyway() {
    EXPECT_EQ(session_.out_data().my_version, 0x80601u);
    EXPECT_EQ(session_.out_data().out_flags, 0x6000000);
    EXPECT_EQ(session_.out_data().out_flags2, 0x1400);
  }
  void ExpectNothingKept() {
    EXPECT_EQ(session_.out_data().global_data, nullptr);
    EXPECT_EQ(host_.global_data(), nullptr);
    EXPECT_TRUE(HoldsNothing(host_.holdings()));
    EXPECT_TRUE(NoMisuse(host_));
  }
};

TEST_F(GlobalSetupFailureTest, NoHandleGives512) {
  host_.faults().FailCall("host_new_handle", 1);
  EXPECT_EQ(session_.GlobalSetup(), PF_Err_INTERNAL_STRUCT_DAMAGED);
  ExpectAnnouncedAnyway();
  ExpectNothingKept();
  EXPECT_EQ(Count(CallsOfLastCommand(), "AEGP_RegisterWithAEGP"), 0);
}

TEST_F(GlobalSetupFailureTest, UnlockableHandleGives4AndIsDisposed) {
  // Reporting success here would leave every later command without its plug-in id.
  host_.faults().FailCall("host_lock_handle", 1);
  EXPECT_EQ(session_.GlobalSetup(), PF_Err_OUT_OF_MEMORY);
  ExpectAnnouncedAnyway();
  ExpectNothingKept();
  EXPECT_EQ(Count(CallsOfLastCommand(), "AEGP_RegisterWithAEGP"), 0);
  EXPECT_EQ(Count(CallsOfLastCommand(), "host_dispose_handle"), 1);
}

TEST_F(GlobalSetupFailureTest, RefusedRegistrationReturnsItsCodeAndDisposesTheHandle) {
  constexpr PF_Err kRefused = 77;
  host_.faults().FailCall("AEGP_RegisterWithAEGP", 1, kRefused);
  EXPECT_EQ(session_.GlobalSetup(), kRefused);
  ExpectAnnouncedAnyway();
  ExpectNothingKept();
  // The handle is unlocked before it goes.
  const std::vector<std::string> calls = CallsOfLastCommand();
  const auto unlock = std::find(calls.begin(), calls.end(), "host_unlock_handle");
  const auto dispose = std::find(calls.begin(), calls.end(), "host_dispose_handle");
  ASSERT_NE(unlock, calls.end());
  ASSERT_NE(dispose, calls.end());
  EXPECT_LT(unlock, dispose);
}

TEST_F(GlobalSetupFailureTest, FailedSetupCanBeRetried) {
  host_.faults().FailCall("AEGP_RegisterWithAEGP", 1, 77);
  ASSERT_EQ(session_.GlobalSetup(), 77);
  ASSERT_EQ(session_.GlobalSetup(), PF_Err_NONE);
  EXPECT_EQ(host_.holdings().global_handles, 1);
  ASSERT_EQ(session_.GlobalSetdown(), PF_Err_NONE);
  EXPECT_TRUE(HoldsNothing(host_.holdings()));
}

// ---- Render passes without what global setup or pre-render should have left

class RenderStartFailureTest : public EffectTest {
 protected:
  void SetUp() override { SetUpEffectWithScene(); }
  void TearDown() override {
    session_.set_record_hook(nullptr);
    host_.faults().Clear();
    EXPECT_EQ(session_.GlobalSetdown(), PF_Err_NONE);
    EXPECT_TRUE(HoldsNothing(host_.holdings()));
  }
};

TEST_F(RenderStartFailureTest, RenderWithoutGlobalDataReports512AndCallsNothing) {
  PF_PreRenderOutput pre_render{};
  ASSERT_EQ(session_.SmartPreRender(90, &pre_render), PF_Err_NONE);
  session_.set_record_hook([](PF_Cmd, PF_InData& in, PF_OutData&) { in.global_data = nullptr; });
  EXPECT_EQ(session_.SmartRender(90, pre_render.pre_render_data, pre_render.result_rect),
            PF_Err_INTERNAL_STRUCT_DAMAGED);
  EXPECT_TRUE(CallsOfLastCommand().empty());
  host_.FreePreRenderData(&pre_render);
}

TEST_F(RenderStartFailureTest, UnreadablePreRenderDataReports516AndCallsNothingElse) {
  PF_PreRenderOutput pre_render{};
  ASSERT_EQ(session_.SmartPreRender(90, &pre_render), PF_Err_NONE);
  host_.faults().FailCall("host_lock_handle", 1);
  EXPECT_EQ(session_.SmartRender(90, pre_render.pre_render_data, pre_render.result_rect),
            PF_Err_BAD_CALLBACK_PARAM);
  for (const std::string& call : CallsOfLastCommand()) {
    EXPECT_TRUE(call == "AcquireSuite" || call == "ReleaseSuite" || call == "host_lock_handle") << call;
  }
  EXPECT_TRUE(HoldsOnlyHostKeptHandles(host_.held_after_last_command()));
  host_.FreePreRenderData(&pre_render);
}

TEST_F(RenderStartFailureTest, PreRenderWithoutHandleGives4AndLeavesTheOutputAlone) {
  host_.faults().FailCall("host_new_handle", 1);
  const hostsim::FrameResult frame = session_.RenderFrame(90);
  EXPECT_EQ(frame.pre_render, PF_Err_OUT_OF_MEMORY);
  EXPECT_FALSE(frame.rendered);
  EXPECT_EQ(frame.pre_render_output.pre_render_data, nullptr);
  EXPECT_EQ(frame.pre_render_output.flags, 0);
  EXPECT_TRUE(HoldsOnlyHostKeptHandles(host_.held_after_last_command()));
}

TEST_F(RenderStartFailureTest, PreRenderWithUnlockableHandleGives4AndDisposesIt) {
  host_.faults().FailCall("host_lock_handle", 1);
  const hostsim::FrameResult frame = session_.RenderFrame(90);
  EXPECT_EQ(frame.pre_render, PF_Err_OUT_OF_MEMORY);
  EXPECT_EQ(frame.pre_render_output.pre_render_data, nullptr) << "an unusable handle must not reach the host";
  EXPECT_EQ(host_.held_after_last_command().handles(), 1) << "only the global handle may remain";
  EXPECT_TRUE(NoMisuse(host_));
}

TEST_F(RenderStartFailureTest, PreRenderHandleLeftByAFailedPassIsFreedByTheHost) {
  host_.faults().FailCall("checkout_param", 3, 91);
  const hostsim::FrameResult frame = session_.RenderFrame(90);
  EXPECT_EQ(frame.pre_render, 91);
  EXPECT_FALSE(frame.rendered);
  EXPECT_EQ(host_.held_after_last_command().pre_render_handles, 1);
  EXPECT_EQ(host_.held_after_last_command().checked_out_params, 0) << "the values read must be checked in";
  EXPECT_EQ(host_.holdings().pre_render_handles, 0);
  EXPECT_EQ(Count(CallsOfLastCommand(), "checkout_param"), 3);
  EXPECT_EQ(Count(CallsOfLastCommand(), "checkout_layer"), 0);
  EXPECT_TRUE(NoMisuse(host_));
}

TEST_F(RenderStartFailureTest, EachFailingStepOfTheLayerSearchIsReturnedWithNothingStrandedOrCopied) {
  const char* kSteps[] = {"checkout_layer_pixels",         "checkout_output",
                          "AEGP_GetEffectLayer",           "AEGP_GetLayerParentComp",
                          "AEGP_GetCompFramerate",         "AEGP_GetNewEffectForEffect",
                          "AEGP_GetNewEffectStreamByIndex", "AEGP_GetNewStreamValue",
                          "AEGP_GetLayerFromLayerID",      "AEGP_GetLayerInPoint",
                          "AEGP_GetLayerDuration",         "AEGP_ConvertCompToLayerTime",
                          "checkout_param"};
  host_.SetDownsample({1, 4}, {1, 4});
  PF_Err code = 600;
  for (const char* step : kSteps) {
    ++code;
    PF_PreRenderOutput pre_render{};
    ASSERT_EQ(session_.SmartPreRender(90, &pre_render), PF_Err_NONE);
    host_.faults().FailCall(step, 1, code);
    EXPECT_EQ(session_.SmartRender(90, pre_render.pre_render_data, pre_render.result_rect), code) << step;
    EXPECT_EQ(Count(CallsOfLastCommand(), "copy"), 0) << step;
    EXPECT_TRUE(HoldsOnlyHostKeptHandles(host_.held_after_last_command())) << step;
    EXPECT_TRUE(NoMisuse(host_)) << step;
    host_.faults().Clear();
    host_.FreePreRenderData(&pre_render);
  }
}

}  // namespace
}  // namespace tovane_test
