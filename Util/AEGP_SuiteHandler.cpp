#include "AEGP_SuiteHandler.h"

#if defined(_MSC_VER) && !defined(__clang__)
#include <intrin.h>
#endif

// Every suite version the handler knows, by slot. Names go to the host byte
// for byte, including their irregular spellings ("PF iterate16 Suite",
// "PF ColorParamSuite", "AE Plugin Helper Suite2"). Slots 47 and 48 both name
// "PF Path Data Suite" 1; each keeps its own slot.
const AEGP_SuiteHandler::SuiteRow AEGP_SuiteHandler::kCatalogue[AEGP_SuiteHandler::kSlotCount] = {
    {"AEGP Keyframe Suite", 4},  // 0
    {"AEGP Stream Suite", 8},  // 1
    {"AEGP Stream Suite", 9},  // 2
    {"AEGP Marker Suite", 1},  // 3
    {"AEGP Marker Suite", 2},  // 4
    {"AEGP Comp Suite", 9},  // 5
    {"AEGP Comp Suite", 11},  // 6
    {"AEGP Comp Suite", 14},  // 7
    {"AEGP Comp Suite", 15},  // 8
    {"AEGP Layer Suite", 8},  // 9
    {"AEGP Layer Suite", 10},  // 10
    {"AEGP Stream Suite", 7},  // 11
    {"AEGP Dynamic Stream Suite", 2},  // 12
    {"AEGP Dynamic Stream Suite", 3},  // 13
    {"AEGP Dynamic Stream Suite", 5},  // 14
    {"AEGP Keyframe Suite", 3},  // 15
    {"AEGP Canvas Suite", 10},  // 16
    {"AEGP Canvas Suite", 11},  // 17
    {nullptr, 0},  // 18: unused
    {"AEGP Camera Suite", 2},  // 19
    {"AEGP Register Suite", 6},  // 20
    {"AEGP Memory Suite", 1},  // 21
    {"AEGP Item Suite", 13},  // 22
    {"AEGP Item Suite", 11},  // 23
    {"AEGP Item Suite", 10},  // 24
    {"AEGP Item Suite", 7},  // 25
    {"AEGP Item Suite", 3},  // 26
    {"AEGP Light Suite", 1},  // 27
    {"AEGP Light Suite", 2},  // 28
    {"AEGP Effect Suite", 1},  // 29
    {"AEGP Effect Suite", 2},  // 30
    {"AEGP Effect Suite", 3},  // 31
    {"AEGP Layer Mask Suite", 5},  // 32
    {"AEGP Mask Outline Suite", 3},  // 33
    {"AEGP Command Suite", 1},  // 34
    {"AEGP Utility Suite", 7},  // 35
    {"AEGP Render Suite", 1},  // 36
    {"AEGP Render Suite", 2},  // 37
    {"PF ANSI Suite", 1},  // 38
    {"PF Handle Suite", 2},  // 39
    {"PF Fill Matte Suite", 2},  // 40
    {"PF World Transform Suite", 1},  // 41
    {"AEGP QueryXform Suite", 4},  // 42
    {"AEGP Composite Suite", 4},  // 43
    {"PF World Suite", 1},  // 44
    {"AEGP PF Interface Suite", 1},  // 45
    {"PF Path Query Suite", 1},  // 46
    {"PF Path Data Suite", 1},  // 47
    {"PF Path Data Suite", 1},  // 48
    {"PF AE App Suite", 6},  // 49
    {"PF AE Adv App Suite", 2},  // 50
    {"AEGP IO In Suite", 5},  // 51
    {"AEGP IO Out Suite", 7},  // 52
    {"AEGP Persistent Data Suite", 3},  // 53
    {"AEGP Render Queue Suite", 1},  // 54
    {"AEGP Render Queue Item Suite", 3},  // 55
    {"AEGP Output Module Suite", 4},  // 56
    {"AEGP File Import Manager Suite", 3},  // 57
    {"PF Sampling8 Suite", 1},  // 58
    {"PF Sampling16 Suite", 1},  // 59
    {"PF Iterate8 Suite", 1},  // 60
    {"PF iterate16 Suite", 1},  // 61
    {"PF iterateFloat Suite", 1},  // 62
    {"AEGP Collection Suite", 2},  // 63
    {"AEGP Text Document Suite", 1},  // 64
    {"AEGP Sound Data Suite", 1},  // 65
    {nullptr, 0},  // 66: unused
    {"AEGP Text Layer Suite", 1},  // 67
    {"AEGP Artisan Util Suite", 1},  // 68
    {"AEGP World Suite", 2},  // 69
    {"AEGP World Suite", 3},  // 70
    {"AEGP Render Options Suite", 1},  // 71
    {"AEGP Tracker Suite", 1},  // 72
    {"AEGP Tracker Utility Suite", 1},  // 73
    {"AE Plugin Helper Suite2", 2},  // 74
    {"AEGP Layer Suite", 11},  // 75
    {"AEGP Layer Suite", 12},  // 76
    {"AEGP Layer Suite", 13},  // 77
    {"AEGP Layer Suite", 5},  // 78
    {"AEGP Layer Mask Suite", 2},  // 79
    {nullptr, 0},  // 80: unused
    {"AEGP Stream Suite", 4},  // 81
    {"AEGP Comp Suite", 4},  // 82
    {"AEGP Collection Suite", 1},  // 83
    {"AEGP Keyframe Suite", 1},  // 84
    {"AEGP Mask Outline Suite", 2},  // 85
    {"PF AE Adv App Suite", 1},  // 86
    {"AEGP Utility Suite", 3},  // 87
    {"AEGP Render Options Suite", 2},  // 88
    {"AEGP Proj Suite", 8},  // 89
    {"AEGP Footage Suite", 11},  // 90
    {"AEGP Render Queue Item Suite", 4},  // 91
    {"AEGP Utility Suite", 10},  // 92
    {"PF Color Settings Suite", 3},  // 93
    {"PF Color Settings Suite", 1},  // 94
    {"PF AE Adv Item Suite", 1},  // 95
    {nullptr, 0},  // 96: unused
    {"PF ColorParamSuite", 1},  // 97
    {"PF SamplingFloat Suite", 1},  // 98
    {"AEGP Utility Suite", 11},  // 99
    {"PF Effect Custom UI Suite", 1},  // 100
    {"PF Effect Custom UI Overlay Theme Suite", 1},  // 101
    {"DRAWBOT Draw Suite", 1},  // 102
    {"DRAWBOT Supplier Suite", 1},  // 103
    {"DRAWBOT Surface Suite", 1},  // 104
    {"DRAWBOT Path Suite", 1},  // 105
};

AEGP_SuiteHandler::AEGP_SuiteHandler(const SPBasicSuite* basic_suite) : basic_suite_(basic_suite), slots_(), held_() {
  if (basic_suite_ == nullptr) {
    MissingSuiteError();
  }
}

AEGP_SuiteHandler::~AEGP_SuiteHandler() { ReleaseAllSuites(); }

void AEGP_SuiteHandler::ReleaseSuite(const char* name, A_long version) {
  // A refused release changes nothing for the effect: the other suites are
  // still given back.
  basic_suite_->ReleaseSuite(name, version);
}

namespace {

// Index of the lowest set bit of a non-zero word.
int LowestSetBit(std::uint64_t bits) {
#if defined(_MSC_VER) && !defined(__clang__)
  unsigned long index = 0;
  _BitScanForward64(&index, bits);
  return static_cast<int>(index);
#else
  return __builtin_ctzll(bits);
#endif
}

}  // namespace

void AEGP_SuiteHandler::ReleaseAllSuites() {
  // Exactly the non-null slots: a slot's bit is set when, and only when, a
  // getter stores a suite in it.
  for (int word = 0; word < kHeldWords; ++word) {
    for (std::uint64_t bits = held_[word]; bits != 0; bits &= bits - 1) {
      const int slot = word * 64 + LowestSetBit(bits);
      ReleaseSuite(kCatalogue[slot].name, kCatalogue[slot].version);
    }
  }
}
