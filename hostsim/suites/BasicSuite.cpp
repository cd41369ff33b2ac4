// The basic suite: named, versioned suites are acquired and released here.

#include <cstring>
#include <optional>
#include <string>

#include "HostState.h"
#include "HostCall.h"
#include "SuiteTables.h"

namespace hostsim {

namespace {

struct OfferedSuite {
  const char* name;
  A_long version;
  const void* (*table)();
};

// Exactly these suites at exactly these versions; anything else is refused.
const OfferedSuite kOffered[] = {
    {kPFHandleSuite, kPFHandleSuiteVersion2, [] { return static_cast<const void*>(HandleSuiteTable()); }},
    {kAEGPUtilitySuite, kAEGPUtilitySuiteVersion7, [] { return static_cast<const void*>(UtilitySuiteTable()); }},
    {kAEGPPFInterfaceSuite, kAEGPPFInterfaceSuiteVersion1,
     [] { return static_cast<const void*>(PFInterfaceSuiteTable()); }},
    {kAEGPEffectSuite, kAEGPEffectSuiteVersion2, [] { return static_cast<const void*>(EffectSuiteTable()); }},
    {kAEGPStreamSuite, kAEGPStreamSuiteVersion9, [] { return static_cast<const void*>(StreamSuiteTable()); }},
    {kAEGPDynamicStreamSuite, kAEGPDynamicStreamSuiteVersion5,
     [] { return static_cast<const void*>(DynamicStreamSuiteTable()); }},
    {kAEGPCompSuite, kAEGPCompSuiteVersion15, [] { return static_cast<const void*>(CompSuiteTable()); }},
    {kAEGPLayerSuite, kAEGPLayerSuiteVersion13, [] { return static_cast<const void*>(LayerSuiteTable()); }},
    {"DRAWBOT Draw Suite", 1, [] { return DrawbotSuiteTable(0); }},
    {"DRAWBOT Supplier Suite", 1, [] { return DrawbotSuiteTable(1); }},
    {"DRAWBOT Surface Suite", 1, [] { return DrawbotSuiteTable(2); }},
    {"DRAWBOT Path Suite", 1, [] { return DrawbotSuiteTable(3); }},
};

// The offered suite of this name and version, or null.
const OfferedSuite* FindOffered(const char* name, A_long version) {
  if (name == nullptr) return nullptr;
  for (const OfferedSuite& suite : kOffered) {
    if (suite.version == version && std::strcmp(suite.name, name) == 0) return &suite;
  }
  return nullptr;
}

nlohmann::ordered_json NameOrNull(const char* name) { return name != nullptr ? nlohmann::ordered_json(name) : nlohmann::ordered_json(); }

SPErr AcquireSuite(const char* name, A_long version, const void** suite) {
  return HostCall<SPErr>(HostFunctionId::kAcquireSuite, kSuiteNotFoundError, [=](HostState& host, TraceEntry& entry) -> SPErr {
    entry["name"] = NameOrNull(name);
    entry["version"] = version;
    if (suite == nullptr) {
      host.Misuse(entry, "null suite pointer");
      return kSuiteNotFoundError;
    }
    if (name != nullptr) {
      if (const std::optional<SuiteRefusal> refusal = host.faults.SuiteRefused(name, version)) {
        if (*refusal == SuiteRefusal::kErrorCode) return kSuiteNotFoundError;
        *suite = nullptr;  // success claimed, nothing delivered
        return kSPNoError;
      }
    }
    const OfferedSuite* offered = FindOffered(name, version);
    if (offered == nullptr) return kSuiteNotFoundError;
    *suite = offered->table();
    ++host.effect.suite_loans[{offered->name, offered->version}];
    return kSPNoError;
  });
}

SPErr ReleaseSuite(const char* name, A_long version) {
  return HostCall<SPErr>(HostFunctionId::kReleaseSuite, kSuiteNotFoundError, [=](HostState& host, TraceEntry& entry) -> SPErr {
    entry["name"] = NameOrNull(name);
    entry["version"] = version;
    const OfferedSuite* offered = FindOffered(name, version);
    if (offered == nullptr || host.effect.suite_loans[{offered->name, offered->version}] == 0) {
      host.Misuse(entry, "suite released that is not held");
      return kSuiteNotFoundError;
    }
    --host.effect.suite_loans[{offered->name, offered->version}];
    return kSPNoError;
  });
}

A_Boolean IsEqual(const char* token1, const char* token2) {
  return token1 != nullptr && token2 != nullptr && std::strcmp(token1, token2) == 0;
}

SPErr Unoffered() {
  return HostCall<SPErr>(HostFunctionId::kUnofferedBasicFunction, kSuiteNotFoundError,
                         [](HostState& host, TraceEntry& entry) -> SPErr {
                           host.Misuse(entry, "basic suite function the host does not offer");
                           return kSuiteNotFoundError;
                         });
}

SPErr AllocateBlock(size_t, void** block) {
  if (block != nullptr) *block = nullptr;
  return Unoffered();
}
SPErr FreeBlock(void*) { return Unoffered(); }
SPErr ReallocateBlock(void*, size_t, void** new_block) {
  if (new_block != nullptr) *new_block = nullptr;
  return Unoffered();
}

// Filled by name: only the places of AcquireSuite and ReleaseSuite are the host's.
const SPBasicSuite kBasicSuite = [] {
  SPBasicSuite table{};
  table.AcquireSuite = AcquireSuite;
  table.ReleaseSuite = ReleaseSuite;
  table.IsEqual = IsEqual;
  table.AllocateBlock = AllocateBlock;
  table.FreeBlock = FreeBlock;
  table.ReallocateBlock = ReallocateBlock;
  table.Undefined = Unoffered;
  return table;
}();

}  // namespace

const SPBasicSuite* BasicSuiteTable() { return &kBasicSuite; }


}  // namespace hostsim
