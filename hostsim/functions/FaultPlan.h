// Fault injection: which host calls fail, and how.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "A_Types.h"
#include "PF_Errors.h"

namespace hostsim {

// How the basic suite refuses a suite: with an error code, or by answering
// success while leaving the suite pointer null (a broken host does that).
enum class SuiteRefusal { kErrorCode, kNullSuite };

// Answers a real host may give that are legal but rare; each is switched on
// on its own, and the host otherwise answers the plain way.
enum class HostAnswer : unsigned {
  // checkout_layer: a maximum rectangle reaching beyond the result rectangle.
  kMaxResultRectWider = 1u << 0,
  // checkout_param of a layer: a frame of height 0 whose pixel memory is lent.
  kZeroHeightFrameWithPixels = 1u << 1,
  // checkout_layer_pixels: success with no world.
  kNullInputWorldOnSuccess = 1u << 2,
  // ansi.sprintf: the whole text, as C's sprintf writes it, with no cut at
  // the size of return_msg.
  kUnboundedSprintf = 1u << 3,
  // checkout_param of a layer: a frame of width 0 whose pixel memory is lent.
  kZeroWidthFrameWithPixels = 1u << 4,
  // checkout_output: success with no world.
  kNullOutputWorldOnSuccess = 1u << 5,
};
// How many HostAnswer bits there are, for code that picks one by number.
constexpr unsigned kHostAnswerCount = 6;

class FaultPlan {
 public:
  static constexpr int kEveryCall = 0;

  // Makes the nth call (1-based, counted from now) of the host function
  // `call`, or every call with kEveryCall, fail with `code`, the way the
  // host-function table says that function fails (HostFunctions.h). Throws
  // std::invalid_argument for a function the table does not list as one
  // that can fail, so a misspelt rule cannot pass for a fault that never fired.
  void FailCall(const std::string& call, int nth, PF_Err code = PF_Err_INTERNAL_STRUCT_DAMAGED);

  // Makes AcquireSuite refuse one suite name and version.
  void RefuseSuite(const std::string& name, A_long version, SuiteRefusal how = SuiteRefusal::kErrorCode);

  // Makes the host answer `answer`'s way from now on (until Clear).
  void Answer(HostAnswer answer) { answers_ |= static_cast<unsigned>(answer); }
  bool Answers(HostAnswer answer) const { return (answers_ & static_cast<unsigned>(answer)) != 0; }

  void Clear();

  // Counts one call of `call` against every rule for it; the code of the
  // first rule that fires, if any.
  std::optional<PF_Err> OnCall(std::string_view call);

  std::optional<SuiteRefusal> SuiteRefused(std::string_view name, A_long version) const;

 private:
  struct CallRule {
    std::string call;
    int nth;
    PF_Err code;
    int seen = 0;
  };
  struct SuiteRule {
    std::string name;
    A_long version;
    SuiteRefusal how;
  };
  std::vector<CallRule> call_rules_;
  std::vector<SuiteRule> suite_rules_;
  unsigned answers_ = 0;  // HostAnswer bits
};

}  // namespace hostsim
