// The basic suite: named, versioned suites are acquired and released here.

#include <array>
#include <cstring>
#include <optional>
#include <string>

#include "Host.h"
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

static_assert(sizeof(kOffered) / sizeof(kOffered[0]) == kOfferedSuiteCount, "kOfferedSuiteCount is out of date");

// The position of a suite in kOffered, or -1 when it is not offered.
int FindOffered(const char* name, A_long version) {
  if (name == nullptr) return -1;
  for (int index = 0; index < kOfferedSuiteCount; ++index) {
    const OfferedSuite& suite = kOffered[index];
    // The version and the first letter rule out most rows before any string
    // is compared; every acquisition and release comes through here.
    if (suite.version == version && suite.name[0] == name[0] && std::strcmp(suite.name, name) == 0) return index;
  }
  return -1;
}

// The function tables of the offered suites, in kOffered's order, made
// once; every acquisition hands one out.
const std::array<const void*, kOfferedSuiteCount> kOfferedTables = [] {
  std::array<const void*, kOfferedSuiteCount> made{};
  for (int index = 0; index < kOfferedSuiteCount; ++index) made[index] = kOffered[index].table();
  return made;
}();

nlohmann::ordered_json NameOrNull(const char* name) { return name != nullptr ? nlohmann::ordered_json(name) : nlohmann::ordered_json(); }

// The answer a fault plan with rules gives an acquisition, if it gives one:
// an injected failure, or a refusal of this name and version.
std::optional<SPErr> FaultedAcquisition(Host& host, const char* name, A_long version, const void** suite) {
  if (std::optional<PF_Err> injected = host.Injected("AcquireSuite")) return *injected;
  if (name == nullptr) return std::nullopt;
  const std::optional<SuiteRefusal> refusal = host.faults().SuiteRefused(name, version);
  if (!refusal) return std::nullopt;
  if (*refusal == SuiteRefusal::kErrorCode) return kSuiteNotFoundError;
  *suite = nullptr;  // success claimed, nothing delivered
  return kSPNoError;
}

SPErr AcquireSuite(const char* name, A_long version, const void** suite) {
  return HostCall("AcquireSuite", kSuiteNotFoundError, [=](Host& host, auto& entry) {
    if (entry.tracing()) {
      entry["name"] = NameOrNull(name);
      entry["version"] = version;
    }
    SPErr result = kSPNoError;
    std::optional<SPErr> faulted;
    if (suite == nullptr) {
      host.Misuse(entry, "null suite pointer");
      result = kSuiteNotFoundError;
    } else if (!host.faults().empty() && (faulted = FaultedAcquisition(host, name, version, suite))) {
      result = *faulted;
    } else if (const int offered = FindOffered(name, version); offered >= 0) {
      *suite = kOfferedTables[offered];
      ++host.suite_loans(offered);
    } else {
      result = kSuiteNotFoundError;
    }
    return Finish(host, entry, result);
  });
}

SPErr ReleaseSuite(const char* name, A_long version) {
  return HostCall("ReleaseSuite", kSuiteNotFoundError, [=](Host& host, auto& entry) {
    if (entry.tracing()) {
      entry["name"] = NameOrNull(name);
      entry["version"] = version;
    }
    SPErr result = kSPNoError;
    const int offered = FindOffered(name, version);
    if (offered < 0 || host.suite_loans(offered) == 0) {
      host.Misuse(entry, "suite released that is not held");
      result = kSuiteNotFoundError;
    } else {
      // The suite is given back even when a fault is injected into the answer.
      --host.suite_loans(offered);
      if (std::optional<PF_Err> injected = host.Injected("ReleaseSuite")) result = *injected;
    }
    return Finish(host, entry, result);
  });
}

A_Boolean IsEqual(const char* token1, const char* token2) {
  return token1 != nullptr && token2 != nullptr && std::strcmp(token1, token2) == 0;
}

SPErr Unoffered() {
  if (Host* host = CurrentHost()) {
    TraceEntry entry = host->CallEntry("SPBasicSuite");
    host->Misuse(entry, "basic suite function the host does not offer");
    entry["result"] = kSuiteNotFoundError;
    host->Record(entry);
  }
  return kSuiteNotFoundError;
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

const SPBasicSuite kBasicSuite = {AcquireSuite, ReleaseSuite, IsEqual, AllocateBlock, FreeBlock, ReallocateBlock,
                                  Unoffered};

}  // namespace

const SPBasicSuite* BasicSuiteTable() { return &kBasicSuite; }

const char* OfferedSuiteName(int index) { return kOffered[index].name; }
A_long OfferedSuiteVersion(int index) { return kOffered[index].version; }

}  // namespace hostsim
