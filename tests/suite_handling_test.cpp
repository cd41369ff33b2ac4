// How the effect uses the host's basic suite: each command acquires a suite
// at most once, gives back exactly what it acquired, and a suite the host
// cannot supply ends the command with 516 without stranding anything.
#include <cstring>
#include <map>

#include "EffectFixture.h"

namespace tovane_test {
namespace {

using SuiteKey = std::pair<std::string, A_long>;

// Suites acquired and released by the most recent command.
struct SuiteTraffic {
  std::map<SuiteKey, int> acquired;
  std::map<SuiteKey, int> released;
};

SuiteTraffic TrafficOfLastCommand(const hostsim::Host& host) {
  SuiteTraffic traffic;
  for (const auto& call : host.trace().CallsOfLastCommand()) {
    if (call["call"] != "AcquireSuite" && call["call"] != "ReleaseSuite") continue;
    SuiteKey key{call["name"].get<std::string>(), call["version"].get<A_long>()};
    if (call["call"] == "AcquireSuite") {
      if (call["result"] == 0) ++traffic.acquired[key];
    } else {
      ++traffic.released[key];
    }
  }
  return traffic;
}

class SuiteHandlingTest : public EffectTest {
 protected:
  // Each suite once at most, and every one of them given back once.
  void ExpectBalancedTraffic(const char* command) {
    const SuiteTraffic traffic = TrafficOfLastCommand(host_);
    for (const auto& [suite, count] : traffic.acquired) {
      EXPECT_EQ(count, 1) << command << " acquired \"" << suite.first << "\" v" << suite.second << " repeatedly";
    }
    EXPECT_EQ(traffic.released, traffic.acquired) << command;
    EXPECT_TRUE(host_.held_after_last_command().suites.empty()) << command;
  }

  // Pre-render for one frame at 3 s, kept so that a render pass can follow.
  void PreRender() {
    std::memset(&pre_render_, 0, sizeof(pre_render_));
    ASSERT_EQ(session_.SmartPreRender(kFrameTime, &pre_render_), PF_Err_NONE);
  }
  PF_Err Render() { return session_.SmartRender(kFrameTime, pre_render_.pre_render_data, pre_render_.result_rect); }

  static constexpr A_long kFrameTime = 90;
  PF_PreRenderOutput pre_render_{};
};

TEST_F(SuiteHandlingTest, EveryCommandGivesBackExactlyWhatItAcquired) {
  host_.SetScene(TwoLayerComposition(), ChooseSecondLayer());
  ASSERT_EQ(session_.GlobalSetup(), PF_Err_NONE);
  ExpectBalancedTraffic("global setup");
  EXPECT_EQ(TrafficOfLastCommand(host_).acquired.size(), 2u);

  ASSERT_EQ(session_.ParamsSetup(), PF_Err_NONE);
  EXPECT_TRUE(TrafficOfLastCommand(host_).acquired.empty()) << "params setup needs no suite";
  ASSERT_EQ(session_.About(), PF_Err_NONE);
  EXPECT_TRUE(TrafficOfLastCommand(host_).acquired.empty()) << "About needs no suite";

  ASSERT_EQ(session_.UpdateParamsUI(controls::kTimeType, 1), PF_Err_NONE);
  ExpectBalancedTraffic("update params UI");

  PreRender();
  ExpectBalancedTraffic("pre-render");
  ASSERT_EQ(Render(), PF_Err_NONE);
  ExpectBalancedTraffic("render");
  host_.FreePreRenderData(&pre_render_);

  ASSERT_EQ(session_.GlobalSetdown(), PF_Err_NONE);
  ExpectBalancedTraffic("global setdown");
  EXPECT_TRUE(HoldsNothing(host_.holdings()));
  EXPECT_TRUE(NoMisuse(host_));
}

TEST_F(SuiteHandlingTest, RenderAcquiresTheSuitesItsLayerSearchNeeds) {
  host_.SetScene(TwoLayerComposition(), ChooseSecondLayer());
  SetUpEffect();
  PreRender();
  ASSERT_EQ(Render(), PF_Err_NONE);
  const SuiteTraffic traffic = TrafficOfLastCommand(host_);
  for (const SuiteKey& suite : std::vector<SuiteKey>{{"PF Handle Suite", 2},
                                                     {"AEGP PF Interface Suite", 1},
                                                     {"AEGP Effect Suite", 2},
                                                     {"AEGP Stream Suite", 9},
                                                     {"AEGP Comp Suite", 15},
                                                     {"AEGP Layer Suite", 13}}) {
    EXPECT_EQ(traffic.acquired.count(suite), 1u) << suite.first << " v" << suite.second;
  }
  host_.FreePreRenderData(&pre_render_);
  ASSERT_EQ(session_.GlobalSetdown(), PF_Err_NONE);
}

TEST_F(SuiteHandlingTest, NoBasicSuiteEndsEverySuiteUsingCommandWith516BeforeAnyHostCall) {
  SetUpEffect();
  session_.set_record_hook([](PF_Cmd, PF_InData& in, PF_OutData&) { in.pica_basicP = nullptr; });
  EXPECT_EQ(session_.GlobalSetup(), PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_TRUE(CallsOfLastCommand().empty());
  EXPECT_EQ(session_.UpdateParamsUI(controls::kTimeType, 1), PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_TRUE(CallsOfLastCommand().empty());
  EXPECT_EQ(session_.GlobalSetdown(), PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_TRUE(CallsOfLastCommand().empty());
  // The host still holds the global handle the failed setdown could not free.
}

TEST_F(SuiteHandlingTest, RefusedReleaseDoesNotKeepTheOtherSuitesFromGoingBack) {
  SetUpEffect();
  host_.faults().FailCall("ReleaseSuite", 1, 1);
  EXPECT_EQ(session_.UpdateParamsUI(controls::kTimeType, 2), PF_Err_NONE) << "a refused release is not the command's failure";
  EXPECT_EQ(TrafficOfLastCommand(host_).released.size(), 4u);
  EXPECT_TRUE(host_.held_after_last_command().suites.empty());
  ASSERT_EQ(session_.GlobalSetdown(), PF_Err_NONE);
}

// ---- A suite the host cannot supply, for every suite each command uses,
// ---- refused with an error and delivered as null.

struct Refusal {
  SuiteKey suite;
  hostsim::SuiteRefusal how;
};

std::vector<Refusal> RefusalsOf(const std::vector<SuiteKey>& suites) {
  std::vector<Refusal> refusals;
  for (const SuiteKey& suite : suites) {
    refusals.push_back({suite, hostsim::SuiteRefusal::kErrorCode});
    refusals.push_back({suite, hostsim::SuiteRefusal::kNullSuite});
  }
  return refusals;
}

std::string Describe(const Refusal& refusal) {
  return "\"" + refusal.suite.first + "\" v" + std::to_string(refusal.suite.second) +
         (refusal.how == hostsim::SuiteRefusal::kNullSuite ? " delivered as null" : " refused");
}

TEST(SuiteRefusalTest, GlobalSetupStrandsNoHandle) {
  for (const Refusal& refusal : RefusalsOf({{"PF Handle Suite", 2}, {"AEGP Utility Suite", 7}})) {
    hostsim::Host host(EffectModule());
    hostsim::Session session(host);
    host.faults().RefuseSuite(refusal.suite.first, refusal.suite.second, refusal.how);
    EXPECT_EQ(session.GlobalSetup(), PF_Err_BAD_CALLBACK_PARAM) << Describe(refusal);
    EXPECT_EQ(session.out_data().my_version, 0x80601u) << Describe(refusal);
    EXPECT_EQ(host.global_data(), nullptr) << Describe(refusal);
    EXPECT_TRUE(HoldsNothing(host.holdings())) << Describe(refusal);
    EXPECT_TRUE(NoMisuse(host)) << Describe(refusal);
  }
}

TEST(SuiteRefusalTest, VisibilityUpdateStrandsNoEffectOrStreamReference) {
  for (const Refusal& refusal : RefusalsOf({{"AEGP PF Interface Suite", 1},
                                            {"AEGP Effect Suite", 2},
                                            {"AEGP Stream Suite", 9},
                                            {"AEGP Dynamic Stream Suite", 5}})) {
    hostsim::Host host(EffectModule());
    hostsim::Session session(host);
    ASSERT_EQ(session.GlobalSetup(), PF_Err_NONE);
    ASSERT_EQ(session.ParamsSetup(), PF_Err_NONE);
    host.faults().RefuseSuite(refusal.suite.first, refusal.suite.second, refusal.how);
    EXPECT_EQ(session.UpdateParamsUI(controls::kTimeType, 2), PF_Err_BAD_CALLBACK_PARAM) << Describe(refusal);
    EXPECT_TRUE(HoldsOnlyHostKeptHandles(host.held_after_last_command())) << Describe(refusal);
    EXPECT_EQ(Count(host.trace().CallNamesOfLastCommand(), "AEGP_SetDynamicStreamFlag"), 0) << Describe(refusal);
    host.faults().Clear();
    EXPECT_EQ(session.GlobalSetdown(), PF_Err_NONE);
    EXPECT_TRUE(HoldsNothing(host.holdings())) << Describe(refusal);
    EXPECT_TRUE(NoMisuse(host)) << Describe(refusal);
  }
}

TEST(SuiteRefusalTest, PreRenderStrandsNoHandle) {
  for (const Refusal& refusal : RefusalsOf({{"PF Handle Suite", 2}})) {
    hostsim::Host host(EffectModule());
    hostsim::Session session(host);
    host.SetScene(TwoLayerComposition(), ChooseSecondLayer());
    ASSERT_EQ(session.GlobalSetup(), PF_Err_NONE);
    ASSERT_EQ(session.ParamsSetup(), PF_Err_NONE);
    host.faults().RefuseSuite(refusal.suite.first, refusal.suite.second, refusal.how);
    const hostsim::FrameResult frame = session.RenderFrame(90);
    EXPECT_EQ(frame.pre_render, PF_Err_BAD_CALLBACK_PARAM) << Describe(refusal);
    EXPECT_FALSE(frame.rendered);
    EXPECT_TRUE(HoldsOnlyHostKeptHandles(host.held_after_last_command())) << Describe(refusal);
    host.faults().Clear();
    EXPECT_EQ(session.GlobalSetdown(), PF_Err_NONE);
    EXPECT_TRUE(HoldsNothing(host.holdings())) << Describe(refusal);
  }
}

TEST(SuiteRefusalTest, RenderStrandsNoReferenceValueOrParameter) {
  for (const Refusal& refusal : RefusalsOf({{"PF Handle Suite", 2},
                                            {"AEGP PF Interface Suite", 1},
                                            {"AEGP Effect Suite", 2},
                                            {"AEGP Stream Suite", 9},
                                            {"AEGP Comp Suite", 15},
                                            {"AEGP Layer Suite", 13}})) {
    hostsim::Host host(EffectModule());
    hostsim::Session session(host);
    host.SetScene(TwoLayerComposition(), ChooseSecondLayer());
    ASSERT_EQ(session.GlobalSetup(), PF_Err_NONE);
    ASSERT_EQ(session.ParamsSetup(), PF_Err_NONE);
    PF_PreRenderOutput pre_render{};
    ASSERT_EQ(session.SmartPreRender(90, &pre_render), PF_Err_NONE);

    host.faults().RefuseSuite(refusal.suite.first, refusal.suite.second, refusal.how);
    EXPECT_EQ(session.SmartRender(90, pre_render.pre_render_data, pre_render.result_rect),
              PF_Err_BAD_CALLBACK_PARAM)
        << Describe(refusal);
    EXPECT_TRUE(HoldsOnlyHostKeptHandles(host.held_after_last_command())) << Describe(refusal);
    EXPECT_EQ(Count(host.trace().CallNamesOfLastCommand(), "copy"), 0) << Describe(refusal);

    host.faults().Clear();
    host.FreePreRenderData(&pre_render);
    EXPECT_EQ(session.GlobalSetdown(), PF_Err_NONE);
    EXPECT_TRUE(HoldsNothing(host.holdings())) << Describe(refusal);
    EXPECT_TRUE(NoMisuse(host)) << Describe(refusal);
  }
}

TEST(SuiteRefusalTest, SetdownWithoutTheHandleSuiteReports516) {
  hostsim::Host host(EffectModule());
  hostsim::Session session(host);
  ASSERT_EQ(session.GlobalSetup(), PF_Err_NONE);
  host.faults().RefuseSuite("PF Handle Suite", 2);
  EXPECT_EQ(session.GlobalSetdown(), PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_TRUE(host.held_after_last_command().suites.empty());
}

}  // namespace
}  // namespace tovane_test
