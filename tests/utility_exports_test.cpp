// The functions the module exports beside its entry point, called directly
// as code inside the host would call them: the rectangle utilities at their
// edges, and the AEFX helpers' reports against the bounds of return_msg.

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "AEFX_SuiteHelper.h"
#include "EffectFixture.h"
#include "Smart_Utils.h"
#include "SuiteTables.h"

namespace {

using hostsim::HostAnswer;
using tovane_test::EffectModule;

template <typename FunctionT>
FunctionT Exported(const char* name) {
  return EffectModule().RequireFunction<FunctionT>(name);
}

struct Rect {
  A_long left, top, right, bottom;
};

PF_LRect L(const Rect& r) { return PF_LRect{r.left, r.top, r.right, r.bottom}; }

std::string Show(const PF_LRect& r) {
  return "(" + std::to_string(r.left) + ", " + std::to_string(r.top) + ", " + std::to_string(r.right) + ", " +
         std::to_string(r.bottom) + ")";
}

TEST(RectangleUtilitiesTest, EmptyMeansNoAreaOnEitherAxis) {
  const auto is_empty = Exported<decltype(&IsEmptyRect)>("IsEmptyRect");
  const struct {
    Rect rect;
    bool empty;
  } cases[] = {
      {{0, 0, 0, 10}, true},   {{0, 0, 10, 0}, true},   {{0, 0, 1, 1}, false},
      {{5, 5, 2, 8}, true},    {{0, 5, 1, 2}, true},    {{-3, -3, -2, -2}, false},
      {{0, 0, 1, 0}, true},    {{INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX}, false},
  };
  for (const auto& c : cases) {
    const PF_LRect rect = L(c.rect);
    EXPECT_EQ(is_empty(&rect) != 0, c.empty) << Show(rect);
  }
}

TEST(RectangleUtilitiesTest, UnionTestsTheDestinationFirstAndGrowsToTheBoundingBox) {
  const auto unite = Exported<decltype(&UnionLRect)>("UnionLRect");
  const struct {
    Rect src, dst, result;
  } cases[] = {
      {{10, 20, 110, 220}, {0, 0, 0, 0}, {10, 20, 110, 220}},
      {{0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}},
      {{3, 3, 3, 9}, {0, 0, 0, 0}, {3, 3, 3, 9}},        // an empty source still replaces an empty destination
      {{0, 0, 0, 0}, {10, 20, 110, 220}, {10, 20, 110, 220}},
      {{5, 5, 50, 5}, {10, 20, 110, 220}, {10, 20, 110, 220}},  // empty by height alone
      {{5, 5, 5, 50}, {10, 20, 110, 220}, {10, 20, 110, 220}},  // empty by width alone
      {{-5, 30, 50, 300}, {10, 20, 110, 220}, {-5, 20, 110, 300}},
      {{20, 10, 200, 100}, {10, 20, 110, 220}, {10, 10, 200, 220}},
      {{1, 1, 2, 2}, {0, 5, 10, 5}, {1, 1, 2, 2}},       // a destination empty by height alone is replaced
      {{1, 1, 2, 2}, {5, 0, 5, 10}, {1, 1, 2, 2}},       // and one empty by width alone
  };
  for (const auto& c : cases) {
    const PF_LRect src = L(c.src);
    PF_LRect dst = L(c.dst);
    unite(&src, &dst);
    EXPECT_EQ(Show(dst), Show(L(c.result))) << "source " << Show(src) << " into " << Show(L(c.dst));
  }
}

TEST(RectangleUtilitiesTest, EdgePixelsIncludeTheRightAndBottomLinesAndTheVerticalEdgesDecideFirst) {
  const auto is_edge = Exported<decltype(&IsEdgePixel)>("IsEdgePixel");
  const struct {
    Rect rect;
    A_long x, y;
    bool edge;
  } cases[] = {
      {{0, 0, 10, 10}, 0, 5, true},    {{0, 0, 10, 10}, 10, 5, true},  {{0, 0, 10, 10}, 5, 0, true},
      {{0, 0, 10, 10}, 5, 10, true},   {{0, 0, 10, 10}, 10, 10, true}, {{0, 0, 10, 10}, 0, 0, true},
      {{0, 0, 10, 10}, 5, 5, false},   {{0, 0, 10, 10}, 11, 5, false}, {{0, 0, 10, 10}, 0, 11, false},
      {{0, 0, 10, 10}, 0, -1, false},  {{0, 0, 10, 10}, -1, 0, false}, {{0, 0, 10, 10}, 11, 10, false},
      {{2, 3, 8, 9}, 2, 3, true},      {{2, 3, 8, 9}, 8, 9, true},     {{2, 3, 8, 9}, 5, 2, false},
      // Reversed: x on the left edge, 10 <= 10 <= 0 fails, though y on the top edge would pass.
      {{0, 10, 10, 0}, 0, 10, false},
      {{10, 0, 0, 10}, 5, 0, false},   // y on the top edge, but 10 <= 5 <= 0 fails
  };
  for (const auto& c : cases) {
    const PF_LRect rect = L(c.rect);
    EXPECT_EQ(is_edge(&rect, c.x, c.y) != 0, c.edge) << Show(rect) << " at " << c.x << ", " << c.y;
  }
}

// Reports written into return_msg stay inside it, with and without the
// host's print callback, and whether or not that callback cuts the text.
class AefxReportBoundsTest : public ::testing::Test {
 protected:
  // The output record with room after it, so that a write past return_msg
  // lands in the record's own later fields rather than outside the test.
  struct GuardedOutData {
    PF_OutData out;
    char after[512];
  };

  AefxReportBoundsTest() : host_(EffectModule()), current_(host_.MakeCurrent()), in_data_(host_.NewInData(0)) {
    std::memset(&guarded_, 0, sizeof(guarded_));
    guarded_.out.start_sampL = kSentinel;
    std::memset(guarded_.after, 0x5a, sizeof(guarded_.after));
    host_.faults().RefuseSuite(kPFHandleSuite, kPFHandleSuiteVersion2);
  }

  PF_Err AcquireRefused(const char* message) {
    const void* suite = nullptr;
    return Exported<decltype(&AEFX_AcquireSuite)>("AEFX_AcquireSuite")(&in_data_, &guarded_.out, kPFHandleSuite,
                                                                        kPFHandleSuiteVersion2, message, &suite);
  }

  void ExpectCutAtTheBufferAndNothingPastIt(const std::string& message) {
    EXPECT_EQ(std::string(guarded_.out.return_msg), message.substr(0, PF_MAX_EFFECT_MSG_LEN));
    EXPECT_EQ(guarded_.out.start_sampL, kSentinel) << "written past return_msg";
  }

  static constexpr A_long kSentinel = 0x5a5a5a5a;
  hostsim::Host host_;
  hostsim::CurrentHostScope current_;
  PF_InData in_data_;
  GuardedOutData guarded_;
};

TEST_F(AefxReportBoundsTest, ALongMessageIsCutAtReturnMsgWithoutAPrintCallback) {
  PF_UtilCallbacks no_print = *in_data_.utils;
  no_print.ansi.sprintf = nullptr;
  in_data_.utils = &no_print;
  const std::string long_message(PF_MAX_EFFECT_MSG_LEN + 40, 'y');
  EXPECT_EQ(AcquireRefused(long_message.c_str()), PF_Err_BAD_CALLBACK_PARAM);
  ExpectCutAtTheBufferAndNothingPastIt(long_message);
}

TEST_F(AefxReportBoundsTest, ALongMessageIsCutAtReturnMsgByAPrintCallbackThatDoesNotCut) {
  host_.faults().Answer(HostAnswer::kUnboundedSprintf);
  const std::string long_message(PF_MAX_EFFECT_MSG_LEN + 40, 'z');
  EXPECT_EQ(AcquireRefused(long_message.c_str()), PF_Err_BAD_CALLBACK_PARAM);
  ExpectCutAtTheBufferAndNothingPastIt(long_message);
}

// The first failure of the set decides: a later suite is never asked for,
// so no later success can replace the code.
TEST_F(AefxReportBoundsTest, TheDrawbotSetKeepsTheFirstFailure) {
  host_.faults().Clear();
  host_.faults().RefuseSuite("DRAWBOT Draw Suite", 1);
  DrawbotSuites suites{};
  EXPECT_EQ(Exported<decltype(&AEFX_AcquireDrawbotSuites)>("AEFX_AcquireDrawbotSuites")(&in_data_, &guarded_.out,
                                                                                         &suites),
            PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_EQ(suites.draw, nullptr);
  EXPECT_EQ(suites.supplier, nullptr);
  EXPECT_EQ(suites.path, nullptr);
  EXPECT_EQ(host_.holdings().suites_held(), 0);
  EXPECT_STREQ(guarded_.out.return_msg, "Not able to acquire AEFX Suite.");
}

}  // namespace
