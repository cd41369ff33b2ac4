// The AEFX suite helpers as code inside the host would call them: resolved
// from the built module, answered by the substitute host's basic suite and
// ANSI callbacks, with suites refused or calls failed on purpose.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "AEFX_SuiteHelper.h"
#include "Host.h"
#include "Module.h"
#include "SuiteTables.h"

namespace {

using hostsim::Host;
using hostsim::Module;
using hostsim::SuiteRefusal;

const char kAcquireFailed[] = "Not able to acquire AEFX Suite.";
const char kReleaseFailed[] = "Not able to release AEFX Suite.";
const char kEarlierMessage[] = "earlier message";
// A bit the host set before the call; a report must keep it.
constexpr PF_OutFlags kEarlierFlags = PF_OutFlag_REFRESH_UI;

const Module& LoadedModule() {
  static const Module module(TOVANE_MODULE_PATH);
  return module;
}

// A basic suite that delivers what the substitute host delivers but always
// answers with an error code, as some hosts do.
SPErr AcquireButComplain(const char* name, A_long version, const void** suite) {
  hostsim::BasicSuiteTable()->AcquireSuite(name, version, suite);
  return 1;
}

class AefxHelpersTest : public ::testing::Test {
 protected:
  AefxHelpersTest() : host_(LoadedModule()), current_(host_.MakeCurrent()), in_data_(host_.NewInData(0)) {
    std::memset(&out_data_, 0, sizeof(out_data_));
    out_data_.out_flags = kEarlierFlags;
    std::strcpy(out_data_.return_msg, kEarlierMessage);
  }

  ~AefxHelpersTest() override { EXPECT_TRUE(host_.errors().empty()) << host_.errors().front(); }

  template <typename FunctionT>
  FunctionT Exported(const char* name) {
    return LoadedModule().RequireFunction<FunctionT>(name);
  }

  PF_Err Acquire(const char* name, A_long version, const char* message, const void** suite) {
    return Exported<decltype(&AEFX_AcquireSuite)>("AEFX_AcquireSuite")(&in_data_, &out_data_, name, version,
                                                                        message, suite);
  }
  PF_Err Release(const char* name, A_long version, const char* message) {
    return Exported<decltype(&AEFX_ReleaseSuite)>("AEFX_ReleaseSuite")(&in_data_, &out_data_, name, version,
                                                                        message);
  }
  PF_Err AcquireDrawbot(DrawbotSuites* suites) {
    return Exported<decltype(&AEFX_AcquireDrawbotSuites)>("AEFX_AcquireDrawbotSuites")(&in_data_, &out_data_,
                                                                                        suites);
  }
  PF_Err ReleaseDrawbot() {
    return Exported<decltype(&AEFX_ReleaseDrawbotSuites)>("AEFX_ReleaseDrawbotSuites")(&in_data_, &out_data_);
  }

  void ExpectNothingReported() {
    EXPECT_EQ(out_data_.out_flags, kEarlierFlags);
    EXPECT_STREQ(out_data_.return_msg, kEarlierMessage);
  }
  void ExpectReported(const char* message) {
    EXPECT_EQ(out_data_.out_flags, kEarlierFlags | PF_OutFlag_DISPLAY_ERROR_MESSAGE);
    EXPECT_STREQ(out_data_.return_msg, message);
  }

  std::vector<std::string> Asked(const char* call) const {
    std::vector<std::string> names;
    for (const auto& entry : host_.trace().Calls(call)) names.push_back(entry.at("name").get<std::string>());
    return names;
  }

  Host host_;
  hostsim::CurrentHostScope current_;
  PF_InData in_data_;
  PF_OutData out_data_;
};

TEST_F(AefxHelpersTest, DeliveredSuiteComesBackWithoutReportAndIsReleasedOnce) {
  const void* suite = nullptr;
  EXPECT_EQ(Acquire(kPFHandleSuite, kPFHandleSuiteVersion2, nullptr, &suite), PF_Err_NONE);
  EXPECT_NE(suite, nullptr);
  EXPECT_EQ(host_.holdings().suites_held(), 1);
  EXPECT_EQ(Release(kPFHandleSuite, kPFHandleSuiteVersion2, nullptr), PF_Err_NONE);
  EXPECT_EQ(host_.holdings().suites_held(), 0);
  ExpectNothingReported();
}

TEST_F(AefxHelpersTest, SuiteTheHostDoesNotDeliverIsReportedWithDefaultOrCallersMessage) {
  for (SuiteRefusal how : {SuiteRefusal::kErrorCode, SuiteRefusal::kNullSuite}) {
    host_.faults().Clear();
    host_.faults().RefuseSuite(kPFHandleSuite, kPFHandleSuiteVersion2, how);
    const void* suite = nullptr;
    EXPECT_EQ(Acquire(kPFHandleSuite, kPFHandleSuiteVersion2, nullptr, &suite), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(suite, nullptr);
    ExpectReported(kAcquireFailed);

    EXPECT_EQ(Acquire(kPFHandleSuite, kPFHandleSuiteVersion2, "No handle suite.", &suite),
              PF_Err_BAD_CALLBACK_PARAM);
    ExpectReported("No handle suite.");
  }
  EXPECT_EQ(host_.holdings().suites_held(), 0);
}

TEST_F(AefxHelpersTest, StaleValueInCallersPointerDoesNotPassForARefusedSuite) {
  host_.faults().RefuseSuite(kPFHandleSuite, kPFHandleSuiteVersion2);
  int stale = 0;
  const void* suite = &stale;
  EXPECT_EQ(Acquire(kPFHandleSuite, kPFHandleSuiteVersion2, nullptr, &suite), PF_Err_BAD_CALLBACK_PARAM);
  ExpectReported(kAcquireFailed);
}

TEST_F(AefxHelpersTest, HostComplainingWhileDeliveringCountsAsDelivered) {
  SPBasicSuite complaining = *hostsim::BasicSuiteTable();
  complaining.AcquireSuite = AcquireButComplain;
  in_data_.pica_basicP = &complaining;
  const void* suite = nullptr;
  EXPECT_EQ(Acquire(kPFHandleSuite, kPFHandleSuiteVersion2, nullptr, &suite), PF_Err_NONE);
  EXPECT_NE(suite, nullptr);
  ExpectNothingReported();
  EXPECT_EQ(Release(kPFHandleSuite, kPFHandleSuiteVersion2, nullptr), PF_Err_NONE);
}

TEST_F(AefxHelpersTest, NoBasicSuiteIsReportedAndLeavesCallersPointerAlone) {
  in_data_.pica_basicP = nullptr;
  int mine = 0;
  const void* suite = &mine;
  EXPECT_EQ(Acquire(kPFHandleSuite, kPFHandleSuiteVersion2, nullptr, &suite), PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_EQ(suite, &mine);
  ExpectReported(kAcquireFailed);

  EXPECT_EQ(Release(kPFHandleSuite, kPFHandleSuiteVersion2, nullptr), PF_Err_BAD_CALLBACK_PARAM);
  ExpectReported(kReleaseFailed);
  EXPECT_EQ(Release(kPFHandleSuite, kPFHandleSuiteVersion2, "Keep going."), PF_Err_BAD_CALLBACK_PARAM);
  ExpectReported("Keep going.");
  EXPECT_TRUE(Asked("AcquireSuite").empty());
  EXPECT_TRUE(Asked("ReleaseSuite").empty());
}

TEST_F(AefxHelpersTest, RefusedReleaseIsNotNoticed) {
  const void* suite = nullptr;
  ASSERT_EQ(Acquire(kPFHandleSuite, kPFHandleSuiteVersion2, nullptr, &suite), PF_Err_NONE);
  host_.faults().FailCall("ReleaseSuite", 1);
  EXPECT_EQ(Release(kPFHandleSuite, kPFHandleSuiteVersion2, nullptr), PF_Err_NONE);
  ExpectNothingReported();
}

// A caller's message is shown as text: a '%' in it is not a conversion, and a
// message longer than return_msg is cut rather than written past it.
TEST_F(AefxHelpersTest, CallersMessageIsShownLiterallyAndWithinReturnMsg) {
  host_.faults().RefuseSuite(kPFHandleSuite, kPFHandleSuiteVersion2);
  const void* suite = nullptr;
  Acquire(kPFHandleSuite, kPFHandleSuiteVersion2, "100% of %s %n", &suite);
  ExpectReported("100% of %s %n");

  const std::string long_message(PF_MAX_EFFECT_MSG_LEN + 40, 'x');
  Acquire(kPFHandleSuite, kPFHandleSuiteVersion2, long_message.c_str(), &suite);
  ExpectReported(long_message.substr(0, PF_MAX_EFFECT_MSG_LEN).c_str());
}

// Without the print callback, or without records at all, the helpers still
// answer with the code and do not crash.
TEST_F(AefxHelpersTest, MissingRecordsOrPrintCallbackStillGiveTheCode) {
  in_data_.pica_basicP = nullptr;
  PF_UtilCallbacks no_print = *in_data_.utils;
  no_print.ansi.sprintf = nullptr;
  in_data_.utils = &no_print;
  const void* suite = nullptr;
  EXPECT_EQ(Acquire(kPFHandleSuite, kPFHandleSuiteVersion2, nullptr, &suite), PF_Err_BAD_CALLBACK_PARAM);
  ExpectReported(kAcquireFailed);

  auto acquire = Exported<decltype(&AEFX_AcquireSuite)>("AEFX_AcquireSuite");
  EXPECT_EQ(acquire(nullptr, nullptr, kPFHandleSuite, kPFHandleSuiteVersion2, nullptr, &suite),
            PF_Err_BAD_CALLBACK_PARAM);
  auto release = Exported<decltype(&AEFX_ReleaseDrawbotSuites)>("AEFX_ReleaseDrawbotSuites");
  EXPECT_EQ(release(nullptr, nullptr), PF_Err_NONE);
}

TEST_F(AefxHelpersTest, DrawbotSetIsAcquiredInOrderAndReleasedWhole) {
  DrawbotSuites suites{};
  EXPECT_EQ(AcquireDrawbot(&suites), PF_Err_NONE);
  EXPECT_NE(suites.draw, nullptr);
  EXPECT_NE(suites.supplier, nullptr);
  EXPECT_NE(suites.surface, nullptr);
  EXPECT_NE(suites.path, nullptr);
  const std::vector<std::string> order = {"DRAWBOT Draw Suite", "DRAWBOT Supplier Suite", "DRAWBOT Surface Suite",
                                          "DRAWBOT Path Suite"};
  EXPECT_EQ(Asked("AcquireSuite"), order);
  EXPECT_EQ(host_.holdings().suites_held(), 4);

  EXPECT_EQ(ReleaseDrawbot(), PF_Err_NONE);
  EXPECT_EQ(Asked("ReleaseSuite"), order);
  EXPECT_EQ(host_.holdings().suites_held(), 0);
  ExpectNothingReported();
}

TEST_F(AefxHelpersTest, DrawbotSetStopsAtTheFirstSuiteNotDelivered) {
  host_.faults().RefuseSuite("DRAWBOT Supplier Suite", 1);
  DrawbotSuites suites{};
  EXPECT_EQ(AcquireDrawbot(&suites), PF_Err_BAD_CALLBACK_PARAM);
  ExpectReported(kAcquireFailed);
  EXPECT_NE(suites.draw, nullptr);
  EXPECT_EQ(suites.supplier, nullptr);
  EXPECT_EQ(suites.surface, nullptr);
  EXPECT_EQ(suites.path, nullptr);
  EXPECT_EQ(Asked("AcquireSuite"), (std::vector<std::string>{"DRAWBOT Draw Suite", "DRAWBOT Supplier Suite"}));
  EXPECT_EQ(host_.holdings().suites_held(), 1);  // the draw suite, still the caller's to give back
  EXPECT_EQ(Release("DRAWBOT Draw Suite", 1, nullptr), PF_Err_NONE);
}

TEST_F(AefxHelpersTest, DrawbotReleaseGoesOnPastFailures) {
  DrawbotSuites suites{};
  ASSERT_EQ(AcquireDrawbot(&suites), PF_Err_NONE);
  host_.faults().FailCall("ReleaseSuite", 2);
  EXPECT_EQ(ReleaseDrawbot(), PF_Err_NONE);
  EXPECT_EQ(host_.holdings().suites_held(), 0);
  ExpectNothingReported();

  in_data_.pica_basicP = nullptr;
  std::strcpy(out_data_.return_msg, kEarlierMessage);
  EXPECT_EQ(ReleaseDrawbot(), PF_Err_NONE);
  ExpectReported(kReleaseFailed);  // four reports over one return_msg leave one message
  EXPECT_EQ(Asked("ReleaseSuite").size(), 4u);
}

}  // namespace
