// The effect's life as the host drives it outside rendering: global setup,
// params setup, the visibility update, About and global setdown.
#include <cstring>

#include "EffectFixture.h"

namespace tovane_test {
namespace {

using LifecycleTest = EffectTest;

TEST_F(LifecycleTest, WholeLifecycleSucceedsAndLeavesNothingHeld) {
  ASSERT_EQ(session_.GlobalSetup(), PF_Err_NONE);
  EXPECT_EQ(session_.out_data().my_version, 0x80601u);
  EXPECT_EQ(session_.out_data().out_flags, 0x6000000);
  EXPECT_EQ(session_.out_data().out_flags2, 0x1400);
  EXPECT_NE(host_.global_data(), nullptr);
  EXPECT_EQ(host_.holdings().global_handles, 1);
  EXPECT_TRUE(HoldsOnlyHostKeptHandles(host_.holdings()));

  ASSERT_EQ(session_.ParamsSetup(), PF_Err_NONE);
  EXPECT_EQ(session_.out_data().num_params, 6);
  for (A_long time_type : {1, 2, 5}) {
    EXPECT_EQ(session_.UpdateParamsUI(controls::kTimeType, time_type), PF_Err_NONE) << "Time Type " << time_type;
    EXPECT_TRUE(session_.out_data().out_flags & PF_OutFlag_REFRESH_UI) << "Time Type " << time_type;
    EXPECT_TRUE(HoldsOnlyHostKeptHandles(host_.held_after_last_command())) << "Time Type " << time_type;
  }
  ASSERT_EQ(session_.About(), PF_Err_NONE);
  ASSERT_EQ(session_.GlobalSetdown(), PF_Err_NONE);

  EXPECT_TRUE(HoldsNothing(host_.holdings()));
  EXPECT_TRUE(NoMisuse(host_));
}

TEST_F(LifecycleTest, GlobalSetupKeepsTheHostsFlagsAndAddsItsOwn) {
  session_.set_record_hook([](PF_Cmd, PF_InData&, PF_OutData& out) {
    out.out_flags = PF_OutFlag_DISPLAY_ERROR_MESSAGE;
    out.out_flags2 = 0x1;
  });
  ASSERT_EQ(session_.GlobalSetup(), PF_Err_NONE);
  EXPECT_EQ(session_.out_data().out_flags, 0x6000000 | PF_OutFlag_DISPLAY_ERROR_MESSAGE);
  EXPECT_EQ(session_.out_data().out_flags2, 0x1400 | 0x1);
  session_.set_record_hook(nullptr);
  ASSERT_EQ(session_.GlobalSetdown(), PF_Err_NONE);
}

TEST_F(LifecycleTest, GlobalDataHoldsThePluginIdTheRegistrationGave) {
  ASSERT_EQ(session_.GlobalSetup(), PF_Err_NONE);
  ASSERT_EQ(host_.plugin_ids().size(), 1u);
  ASSERT_NE(host_.global_data(), nullptr);
  AEGP_PluginID stored = 0;
  std::memcpy(&stored, *host_.global_data(), sizeof(stored));
  EXPECT_EQ(stored, host_.plugin_ids()[0]);

  // Registered once, with no refcon and the name the effect always gives.
  const auto registrations = host_.trace().Calls("AEGP_RegisterWithAEGP");
  ASSERT_EQ(registrations.size(), 1u);
  EXPECT_TRUE(registrations[0]["global_refcon"].is_null());
  EXPECT_EQ(registrations[0]["plugin_name"], "Error!");
  ASSERT_EQ(session_.GlobalSetdown(), PF_Err_NONE);
}

TEST_F(LifecycleTest, GlobalSetdownDisposesOfTheGlobalHandle) {
  ASSERT_EQ(session_.GlobalSetup(), PF_Err_NONE);
  ASSERT_EQ(session_.GlobalSetdown(), PF_Err_NONE);
  EXPECT_EQ(Count(CallsOfLastCommand(), "host_dispose_handle"), 1);
  EXPECT_EQ(host_.holdings().handles(), 0);
  EXPECT_TRUE(NoMisuse(host_));
}

TEST_F(LifecycleTest, GlobalSetdownWithoutGlobalDataCallsNoHandleFunction) {
  ASSERT_EQ(session_.GlobalSetdown(), PF_Err_NONE);
  for (const std::string& call : CallsOfLastCommand()) {
    EXPECT_EQ(call.rfind("host_", 0), std::string::npos) << call;
  }
  EXPECT_TRUE(HoldsNothing(host_.holdings()));
}

TEST_F(LifecycleTest, AboutWritesNameVersionAndNoticeAndNothingElse) {
  PF_OutData before;
  std::memset(&before, 0x5A, sizeof(before));
  session_.set_record_hook([&](PF_Cmd, PF_InData&, PF_OutData& out) { out = before; });
  ASSERT_EQ(session_.About(), PF_Err_NONE);

  const std::string text = session_.about_text();
  const std::string head = "TovaneParvolith, v1.00\r";
  ASSERT_EQ(text.compare(0, head.size(), head), 0) << text;
  EXPECT_GT(text.size(), head.size()) << "the notice line is missing";
  EXPECT_EQ(text.find('\r', head.size()), std::string::npos);

  // Everything but the message buffer is as the host left it.
  PF_OutData after = session_.out_data();
  std::memcpy(after.return_msg, before.return_msg, sizeof(after.return_msg));
  EXPECT_EQ(std::memcmp(&after, &before, sizeof(before)), 0);
  EXPECT_EQ(CallsOfLastCommand(), std::vector<std::string>{"ansi.sprintf"});
}

TEST_F(LifecycleTest, CommandsWithoutAHandlerAnswerZeroAndTouchNothing) {
  SetUpEffect();
  PF_OutData before;
  std::memset(&before, 0x33, sizeof(before));
  session_.set_record_hook([&](PF_Cmd, PF_InData&, PF_OutData& out) { out = before; });
  const PF_Cmd kIgnored[] = {PF_Cmd_UNUSED_0, PF_Cmd_SEQUENCE_SETUP, PF_Cmd_RENDER, PF_Cmd_USER_CHANGED_PARAM, 25, 1000, -1};
  for (PF_Cmd cmd : kIgnored) {
    EXPECT_EQ(session_.SendPlain(cmd), PF_Err_NONE) << "command " << cmd;
    EXPECT_TRUE(CallsOfLastCommand().empty()) << "command " << cmd;
    EXPECT_EQ(std::memcmp(&session_.out_data(), &before, sizeof(before)), 0) << "command " << cmd;
  }
  session_.set_record_hook(nullptr);
  ASSERT_EQ(session_.GlobalSetdown(), PF_Err_NONE);
  EXPECT_TRUE(HoldsNothing(host_.holdings()));
}

TEST_F(LifecycleTest, SecondInstanceRegistersAgainAndKeepsItsOwnGlobalData) {
  hostsim::Host other_host(EffectModule());
  hostsim::Session other(other_host);
  ASSERT_EQ(session_.GlobalSetup(), PF_Err_NONE);
  ASSERT_EQ(other.GlobalSetup(), PF_Err_NONE);
  EXPECT_NE(host_.global_data(), other_host.global_data());
  ASSERT_EQ(session_.GlobalSetdown(), PF_Err_NONE);
  EXPECT_EQ(other_host.holdings().global_handles, 1);
  ASSERT_EQ(other.GlobalSetdown(), PF_Err_NONE);
  EXPECT_TRUE(HoldsNothing(host_.holdings()));
  EXPECT_TRUE(HoldsNothing(other_host.holdings()));
}

}  // namespace
}  // namespace tovane_test
