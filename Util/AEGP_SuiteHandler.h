// Scoped access to the host's function suites for the length of one command.
//
// A handler builds one instance on its stack from in_data->pica_basicP. Each
// getter acquires its suite on first use and keeps it; the destructor gives
// back every suite acquired, also while an exception unwinds the handler. A
// suite the host cannot supply is reported by throwing PF_Err 516, which the
// entry point catches.
#pragma once

#include <cstdint>

#include "AE_Host.h"
#include "UtilExport.h"

class TOVANE_UTIL_API AEGP_SuiteHandler {
 public:
  // One row of the catalogue of suite versions the handler knows; rows
  // without a name are unused slots.
  struct SuiteRow {
    const char* name;
    A_long version;
  };
  enum { kSlotCount = 106 };
  static const SuiteRow kCatalogue[kSlotCount];

  explicit AEGP_SuiteHandler(const SPBasicSuite* basic_suite);
  ~AEGP_SuiteHandler();

  AEGP_SuiteHandler(const AEGP_SuiteHandler&) = delete;
  AEGP_SuiteHandler& operator=(const AEGP_SuiteHandler&) = delete;

  const AEGP_UtilitySuite7* UtilitySuite() const { return Acquire<AEGP_UtilitySuite7>(kUtilitySuite7Slot); }
  const PF_HandleSuite2* HandleSuite() const { return Acquire<PF_HandleSuite2>(kHandleSuite2Slot); }
  const AEGP_PFInterfaceSuite1* PFInterfaceSuite() const {
    return Acquire<AEGP_PFInterfaceSuite1>(kPFInterfaceSuite1Slot);
  }
  const AEGP_EffectSuite2* EffectSuite() const { return Acquire<AEGP_EffectSuite2>(kEffectSuite2Slot); }
  const AEGP_StreamSuite9* StreamSuite() const { return Acquire<AEGP_StreamSuite9>(kStreamSuite9Slot); }
  const AEGP_DynamicStreamSuite5* DynamicStreamSuite() const {
    return Acquire<AEGP_DynamicStreamSuite5>(kDynamicStreamSuite5Slot);
  }
  const AEGP_CompSuite15* CompSuite() const { return Acquire<AEGP_CompSuite15>(kCompSuite15Slot); }
  const AEGP_LayerSuite13* LayerSuite() const { return Acquire<AEGP_LayerSuite13>(kLayerSuite13Slot); }

 private:
  // Slots of the catalogue rows that have getters.
  enum {
    kStreamSuite9Slot = 2,
    kCompSuite15Slot = 8,
    kDynamicStreamSuite5Slot = 14,
    kEffectSuite2Slot = 30,
    kUtilitySuite7Slot = 35,
    kHandleSuite2Slot = 39,
    kPFInterfaceSuite1Slot = 45,
    kLayerSuite13Slot = 77
  };

  template <typename SuiteT>
  const SuiteT* Acquire(int slot) const {
    if (slots_[slot] == nullptr) {
      const void* suite = nullptr;
      const SuiteRow& row = kCatalogue[slot];
      // The basic suite answers 0 for success.
      if (basic_suite_->AcquireSuite(row.name, row.version, &suite) != 0 || suite == nullptr) {
        MissingSuiteError();  // the slot stays empty, so nothing is given back for it
      }
      slots_[slot] = suite;
      held_[slot / 64] |= std::uint64_t{1} << (slot % 64);
    }
    return static_cast<const SuiteT*>(slots_[slot]);
  }

  void ReleaseSuite(const char* name, A_long version);
  void ReleaseAllSuites();
  [[noreturn]] void MissingSuiteError() const;

  const SPBasicSuite* const basic_suite_;
  mutable const void* slots_[kSlotCount];
  // One bit per slot that holds a suite, so that the release at the end of a
  // command visits the few held slots instead of testing all 106.
  enum { kHeldWords = (kSlotCount + 63) / 64 };
  mutable std::uint64_t held_[kHeldWords];
};
