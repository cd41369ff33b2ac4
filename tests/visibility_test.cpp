// Showing only the time slider that matches "Time Type", through the effect's
// own parameter streams, and what each failing host call leaves behind.
#include "EffectFixture.h"

namespace tovane_test {
namespace {

class VisibilityTest : public EffectTest {
 protected:
  void SetUp() override { SetUpEffect(); }
  void TearDown() override {
    session_.set_record_hook(nullptr);
    host_.faults().Clear();
    EXPECT_EQ(session_.GlobalSetdown(), PF_Err_NONE);
    EXPECT_TRUE(HoldsNothing(host_.holdings()));
  }

  // The stream-flag calls of the last command as (index, set) pairs.
  std::vector<std::pair<int, int>> FlagChanges() const {
    std::vector<std::pair<int, int>> changes;
    for (const auto& call : host_.trace().CallsOfLastCommand()) {
      if (call["call"] == "AEGP_SetDynamicStreamFlag") changes.emplace_back(call["index"], call["set"]);
    }
    return changes;
  }

  bool RefreshAsked() const { return (session_.out_data().out_flags & PF_OutFlag_REFRESH_UI) != 0; }

  PF_ParamIndex PercentIndex() const { return host_.DeclaredIndex(controls::kTimePercent); }
  PF_ParamIndex SecondsIndex() const { return host_.DeclaredIndex(controls::kTimeSec); }
};

TEST_F(VisibilityTest, PercentShowsPercentSliderThenHidesSeconds) {
  ASSERT_EQ(session_.UpdateParamsUI(controls::kTimeType, 1), PF_Err_NONE);
  EXPECT_EQ(FlagChanges(), (std::vector<std::pair<int, int>>{{4, 0}, {5, 1}}));
  EXPECT_FALSE(host_.stream_hidden(PercentIndex()));
  EXPECT_TRUE(host_.stream_hidden(SecondsIndex()));
  EXPECT_TRUE(RefreshAsked());
  EXPECT_TRUE(HoldsOnlyHostKeptHandles(host_.held_after_last_command()));
  EXPECT_TRUE(NoMisuse(host_));
}

TEST_F(VisibilityTest, SecondHidesPercentSliderThenShowsSeconds) {
  ASSERT_EQ(session_.UpdateParamsUI(controls::kTimeType, 1), PF_Err_NONE);
  ASSERT_EQ(session_.UpdateParamsUI(controls::kTimeType, 2), PF_Err_NONE);
  EXPECT_EQ(FlagChanges(), (std::vector<std::pair<int, int>>{{4, 1}, {5, 0}}));
  EXPECT_TRUE(host_.stream_hidden(PercentIndex()));
  EXPECT_FALSE(host_.stream_hidden(SecondsIndex()));
  EXPECT_TRUE(RefreshAsked());
  EXPECT_TRUE(HoldsOnlyHostKeptHandles(host_.held_after_last_command()));
}

TEST_F(VisibilityTest, EachStreamIsDisposedRightAfterItsFlagChangesAndNeverUndoably) {
  ASSERT_EQ(session_.UpdateParamsUI(controls::kTimeType, 2), PF_Err_NONE);
  const std::vector<std::string> aegp = [&] {
    std::vector<std::string> names;
    for (const std::string& call : CallsOfLastCommand()) {
      if (call.rfind("AEGP_", 0) == 0) names.push_back(call);
    }
    return names;
  }();
  EXPECT_EQ(aegp, (std::vector<std::string>{"AEGP_GetNewEffectForEffect", "AEGP_GetNewEffectStreamByIndex",
                                             "AEGP_SetDynamicStreamFlag", "AEGP_DisposeStream",
                                             "AEGP_GetNewEffectStreamByIndex", "AEGP_SetDynamicStreamFlag",
                                             "AEGP_DisposeStream", "AEGP_DisposeEffect"}));
  for (const auto& call : host_.trace().CallsOfLastCommand()) {
    if (call["call"] == "AEGP_SetDynamicStreamFlag") {
      EXPECT_EQ(call["flag"], AEGP_DynStreamFlag_HIDDEN);
      EXPECT_EQ(call["undoable"], 0);
    }
  }
}

TEST_F(VisibilityTest, OtherTimeTypesChangeNeitherSliderButStillRefresh) {
  ASSERT_EQ(session_.UpdateParamsUI(controls::kTimeType, 2), PF_Err_NONE);
  for (A_long time_type : {0, 3, 5, -1}) {
    ASSERT_EQ(session_.UpdateParamsUI(controls::kTimeType, time_type), PF_Err_NONE) << "Time Type " << time_type;
    EXPECT_TRUE(FlagChanges().empty()) << "Time Type " << time_type;
    EXPECT_EQ(Count(CallsOfLastCommand(), "AEGP_GetNewEffectForEffect"), 1);
    EXPECT_EQ(Count(CallsOfLastCommand(), "AEGP_DisposeEffect"), 1);
    EXPECT_TRUE(RefreshAsked()) << "Time Type " << time_type;
    EXPECT_TRUE(host_.stream_hidden(PercentIndex()));  // as the last real change left them
    EXPECT_FALSE(host_.stream_hidden(SecondsIndex()));
  }
}

TEST_F(VisibilityTest, MissingGlobalDataIsReportedWithoutCallingTheHost) {
  session_.set_record_hook([](PF_Cmd, PF_InData& in, PF_OutData&) { in.global_data = nullptr; });
  EXPECT_EQ(session_.UpdateParamsUI(controls::kTimeType, 1), PF_Err_INTERNAL_STRUCT_DAMAGED);
  EXPECT_TRUE(CallsOfLastCommand().empty());
}

// ---- A failing host call, one at a time

TEST_F(VisibilityTest, EffectReferenceRefusedChangesNothingButStillRefreshes) {
  host_.faults().FailCall("AEGP_GetNewEffectForEffect", 1, 41);
  EXPECT_EQ(session_.UpdateParamsUI(controls::kTimeType, 2), 41);
  EXPECT_TRUE(FlagChanges().empty());
  EXPECT_EQ(Count(CallsOfLastCommand(), "AEGP_DisposeEffect"), 0) << "no reference was handed out";
  EXPECT_TRUE(RefreshAsked());
  EXPECT_TRUE(HoldsOnlyHostKeptHandles(host_.held_after_last_command()));
}

TEST_F(VisibilityTest, FirstStreamRefusedSkipsTheSecondAndDisposesTheEffect) {
  host_.faults().FailCall("AEGP_GetNewEffectStreamByIndex", 1, 42);
  EXPECT_EQ(session_.UpdateParamsUI(controls::kTimeType, 2), 42);
  EXPECT_EQ(Count(CallsOfLastCommand(), "AEGP_GetNewEffectStreamByIndex"), 1);
  EXPECT_TRUE(FlagChanges().empty());
  EXPECT_EQ(Count(CallsOfLastCommand(), "AEGP_DisposeEffect"), 1);
  EXPECT_TRUE(RefreshAsked());
  EXPECT_TRUE(HoldsOnlyHostKeptHandles(host_.held_after_last_command()));
}

TEST_F(VisibilityTest, FlagRefusedStillDisposesItsStream) {
  host_.faults().FailCall("AEGP_SetDynamicStreamFlag", 1, 43);
  EXPECT_EQ(session_.UpdateParamsUI(controls::kTimeType, 2), 43);
  EXPECT_EQ(Count(CallsOfLastCommand(), "AEGP_DisposeStream"), 1);
  EXPECT_EQ(Count(CallsOfLastCommand(), "AEGP_GetNewEffectStreamByIndex"), 1) << "second slider must be skipped";
  EXPECT_FALSE(host_.stream_hidden(PercentIndex()));
  EXPECT_TRUE(HoldsOnlyHostKeptHandles(host_.held_after_last_command()));
}

TEST_F(VisibilityTest, SecondFlagRefusedKeepsTheFirstChange) {
  host_.faults().FailCall("AEGP_SetDynamicStreamFlag", 2, 44);
  EXPECT_EQ(session_.UpdateParamsUI(controls::kTimeType, 2), 44);
  EXPECT_TRUE(host_.stream_hidden(PercentIndex()));
  EXPECT_EQ(Count(CallsOfLastCommand(), "AEGP_DisposeStream"), 2);
  EXPECT_TRUE(HoldsOnlyHostKeptHandles(host_.held_after_last_command()));
}

TEST_F(VisibilityTest, FailedStreamDisposeIsReportedAndSkipsTheSecondSlider) {
  host_.faults().FailCall("AEGP_DisposeStream", 1, 45);
  EXPECT_EQ(session_.UpdateParamsUI(controls::kTimeType, 2), 45);
  EXPECT_EQ(FlagChanges(), (std::vector<std::pair<int, int>>{{4, 1}}));
  EXPECT_EQ(Count(CallsOfLastCommand(), "AEGP_DisposeEffect"), 1);
  EXPECT_TRUE(RefreshAsked());
}

TEST_F(VisibilityTest, FailedEffectDisposeIsReportedAfterBothChanges) {
  host_.faults().FailCall("AEGP_DisposeEffect", 1, 46);
  EXPECT_EQ(session_.UpdateParamsUI(controls::kTimeType, 2), 46);
  EXPECT_EQ(FlagChanges().size(), 2u);
  EXPECT_TRUE(RefreshAsked());
}

TEST_F(VisibilityTest, FirstErrorWinsOverALaterDisposeFailure) {
  host_.faults().FailCall("AEGP_SetDynamicStreamFlag", 1, 47);
  host_.faults().FailCall("AEGP_DisposeStream", 1, 48);
  host_.faults().FailCall("AEGP_DisposeEffect", 1, 49);
  EXPECT_EQ(session_.UpdateParamsUI(controls::kTimeType, 1), 47);
  EXPECT_TRUE(HoldsOnlyHostKeptHandles(host_.held_after_last_command()));
}

}  // namespace
}  // namespace tovane_test
