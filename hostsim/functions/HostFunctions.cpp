#include "HostFunctions.h"

#include <iterator>

namespace hostsim {

namespace {

using F = HostFunctionId;
using A = FaultAnswer;
using C = CalledIn;

constexpr const char* kInteract = "PF_InData inter";
constexpr const char* kUtils = "PF_InData utils";
constexpr const char* kPreRender = "PF_PreRenderCallbacks";
constexpr const char* kSmartRender = "PF_SmartRenderCallbacks";
constexpr const char* kBasic = "SPBasicSuite";

constexpr HostFunction kTable[] = {
    {F::kAcquireSuite, "AcquireSuite", kBasic, 0, A::kErrorCode, C::kAnyCommand},
    {F::kReleaseSuite, "ReleaseSuite", kBasic, 0, A::kCodeAfterward, C::kAnyCommand},
    {F::kUnofferedBasicFunction, "SPBasicSuite", kBasic, 0, A::kNone, C::kAnyCommand},
    {F::kNewHandle, "host_new_handle", kPFHandleSuite, kPFHandleSuiteVersion2, A::kNull, C::kAnyCommand},
    {F::kLockHandle, "host_lock_handle", kPFHandleSuite, kPFHandleSuiteVersion2, A::kNull, C::kAnyCommand},
    {F::kUnlockHandle, "host_unlock_handle", kPFHandleSuite, kPFHandleSuiteVersion2, A::kNone, C::kAnyCommand},
    {F::kDisposeHandle, "host_dispose_handle", kPFHandleSuite, kPFHandleSuiteVersion2, A::kNone, C::kAnyCommand},
    {F::kGetHandleSize, "host_get_handle_size", kPFHandleSuite, kPFHandleSuiteVersion2, A::kNone, C::kAnyCommand},
    {F::kUnusedSlot, "unimplemented suite function", "any offered suite", 0, A::kNone, C::kAnyCommand},
    {F::kAddParam, "add_param", kInteract, 0, A::kErrorCode, C::kParamsSetup},
    {F::kCheckoutParam, "checkout_param", kInteract, 0, A::kErrorCode, C::kAnyCommand},
    {F::kCheckinParam, "checkin_param", kInteract, 0, A::kCodeAfterward, C::kAnyCommand},
    {F::kCopy, "copy", kUtils, 0, A::kErrorCode, C::kAnyCommand},
    {F::kSprintf, "ansi.sprintf", kUtils, 0, A::kNone, C::kAnyCommand},
    {F::kStrcpy, "ansi.strcpy", kUtils, 0, A::kNone, C::kAnyCommand},
    {F::kCheckoutLayer, "checkout_layer", kPreRender, 0, A::kErrorCode, C::kSmartPreRender},
    {F::kCheckoutLayerPixels, "checkout_layer_pixels", kSmartRender, 0, A::kErrorCode, C::kSmartRender},
    {F::kCheckinLayerPixels, "checkin_layer_pixels", kSmartRender, 0, A::kCodeAfterward, C::kSmartRender},
    {F::kCheckoutOutput, "checkout_output", kSmartRender, 0, A::kErrorCode, C::kSmartRender},
    {F::kRegisterWithAEGP, "AEGP_RegisterWithAEGP", kAEGPUtilitySuite, kAEGPUtilitySuiteVersion7, A::kErrorCode,
     C::kAnyCommand},
    {F::kGetEffectLayer, "AEGP_GetEffectLayer", kAEGPPFInterfaceSuite, kAEGPPFInterfaceSuiteVersion1, A::kErrorCode,
     C::kAnyCommand},
    {F::kGetNewEffectForEffect, "AEGP_GetNewEffectForEffect", kAEGPPFInterfaceSuite, kAEGPPFInterfaceSuiteVersion1,
     A::kErrorCode, C::kAnyCommand},
    {F::kDisposeEffect, "AEGP_DisposeEffect", kAEGPEffectSuite, kAEGPEffectSuiteVersion2, A::kCodeAfterward,
     C::kAnyCommand},
    {F::kGetNewEffectStreamByIndex, "AEGP_GetNewEffectStreamByIndex", kAEGPStreamSuite, kAEGPStreamSuiteVersion9,
     A::kErrorCode, C::kAnyCommand},
    {F::kDisposeStream, "AEGP_DisposeStream", kAEGPStreamSuite, kAEGPStreamSuiteVersion9, A::kCodeAfterward,
     C::kAnyCommand},
    {F::kGetNewStreamValue, "AEGP_GetNewStreamValue", kAEGPStreamSuite, kAEGPStreamSuiteVersion9, A::kErrorCode,
     C::kAnyCommand},
    {F::kDisposeStreamValue, "AEGP_DisposeStreamValue", kAEGPStreamSuite, kAEGPStreamSuiteVersion9,
     A::kCodeAfterward, C::kAnyCommand},
    {F::kSetDynamicStreamFlag, "AEGP_SetDynamicStreamFlag", kAEGPDynamicStreamSuite, kAEGPDynamicStreamSuiteVersion5,
     A::kErrorCode, C::kAnyCommand},
    {F::kGetCompFramerate, "AEGP_GetCompFramerate", kAEGPCompSuite, kAEGPCompSuiteVersion15, A::kErrorCode,
     C::kAnyCommand},
    {F::kGetLayerParentComp, "AEGP_GetLayerParentComp", kAEGPLayerSuite, kAEGPLayerSuiteVersion13, A::kErrorCode,
     C::kAnyCommand},
    {F::kGetLayerInPoint, "AEGP_GetLayerInPoint", kAEGPLayerSuite, kAEGPLayerSuiteVersion13, A::kErrorCode,
     C::kAnyCommand},
    {F::kGetLayerDuration, "AEGP_GetLayerDuration", kAEGPLayerSuite, kAEGPLayerSuiteVersion13, A::kErrorCode,
     C::kAnyCommand},
    {F::kConvertCompToLayerTime, "AEGP_ConvertCompToLayerTime", kAEGPLayerSuite, kAEGPLayerSuiteVersion13,
     A::kErrorCode, C::kAnyCommand},
    {F::kGetLayerFromLayerID, "AEGP_GetLayerFromLayerID", kAEGPLayerSuite, kAEGPLayerSuiteVersion13, A::kErrorCode,
     C::kAnyCommand},
};

constexpr bool RowsInIdOrder() {
  for (int row = 0; row < static_cast<int>(sizeof(kTable) / sizeof(kTable[0])); ++row) {
    if (static_cast<int>(kTable[row].id) != row) return false;
  }
  return sizeof(kTable) / sizeof(kTable[0]) == static_cast<std::size_t>(HostFunctionId::kCount);
}
static_assert(RowsInIdOrder(), "every HostFunctionId has its row, in the enum's order");

}  // namespace

bool HostFunction::AllowedIn(std::optional<PF_Cmd> running) const {
  switch (called_in) {
    case CalledIn::kAnyCommand: return true;
    case CalledIn::kParamsSetup: return running == PF_Cmd_PARAMS_SETUP;
    case CalledIn::kSmartPreRender: return running == PF_Cmd_SMART_PRE_RENDER;
    case CalledIn::kSmartRender: return running == PF_Cmd_SMART_RENDER;
  }
  return false;
}

const HostFunction& Describe(HostFunctionId id) { return kTable[static_cast<int>(id)]; }

const HostFunction* FindHostFunction(std::string_view name) {
  for (const HostFunction& function : kTable) {
    if (name == function.name) return &function;
  }
  return nullptr;
}

const HostFunction* HostFunctionsBegin() { return std::begin(kTable); }
const HostFunction* HostFunctionsEnd() { return std::end(kTable); }

}  // namespace hostsim
