// The host functions the substitute host offers, in one table: the name the
// trace gives each, where the module finds it (a suite and its version, or a
// callback record), how a fault plan can make it fail, and which commands may
// call it. The trace, the fault plan, the validator's fault sweep, the
// fuzzer's fault choices and the protocol check all read this table, so a
// function added here is traced, failable and checked everywhere at once.
#pragma once

#include <optional>
#include <string_view>

#include "AE_Host.h"

namespace hostsim {

// Every host function, in the table's order.
enum class HostFunctionId {
  kAcquireSuite,
  kReleaseSuite,
  kUnofferedBasicFunction,
  kNewHandle,
  kLockHandle,
  kUnlockHandle,
  kDisposeHandle,
  kGetHandleSize,
  kUnusedSlot,
  kAddParam,
  kCheckoutParam,
  kCheckinParam,
  kCopy,
  kSprintf,
  kStrcpy,
  kCheckoutLayer,
  kCheckoutLayerPixels,
  kCheckinLayerPixels,
  kCheckoutOutput,
  kRegisterWithAEGP,
  kGetEffectLayer,
  kGetNewEffectForEffect,
  kDisposeEffect,
  kGetNewEffectStreamByIndex,
  kDisposeStream,
  kGetNewStreamValue,
  kDisposeStreamValue,
  kSetDynamicStreamFlag,
  kGetCompFramerate,
  kGetLayerParentComp,
  kGetLayerInPoint,
  kGetLayerDuration,
  kConvertCompToLayerTime,
  kGetLayerFromLayerID,
  kCount
};

// How an injected fault shows in a function's answer.
enum class FaultAnswer {
  kNone,          // returns nothing a caller could read as a failure
  kErrorCode,     // fails with the plan's code, writing no outputs
  kNull,          // returns null instead of a pointer or handle
  kCodeAfterward  // gives back what it was given, then answers with the plan's code
};

// The commands a function may be called in. A function called in any other
// command, or with no command running, is refused as a misuse.
enum class CalledIn { kAnyCommand, kParamsSetup, kSmartPreRender, kSmartRender };

struct HostFunction {
  HostFunctionId id;
  const char* name;        // as the trace and the fault plan name it
  const char* offered_by;  // the suite, or the callback record of PF_InData or a render pass
  A_long suite_version;    // 0 for a callback
  FaultAnswer fault;
  CalledIn called_in;

  bool can_fail() const { return fault != FaultAnswer::kNone; }
  // Whether the function may be called while `running` is the command
  // running (nullopt: none is).
  bool AllowedIn(std::optional<PF_Cmd> running) const;
};

// The row of one function.
const HostFunction& Describe(HostFunctionId id);
// The name the trace gives one function, for code that reads traces.
inline const char* TraceName(HostFunctionId id) { return Describe(id).name; }
// The row with this trace name, or null.
const HostFunction* FindHostFunction(std::string_view name);
// Every row, in order.
const HostFunction* HostFunctionsBegin();
const HostFunction* HostFunctionsEnd();

}  // namespace hostsim
