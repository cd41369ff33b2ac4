// The suites the substitute host offers through the basic suite, as
// function tables: acquiring and releasing (BasicSuite.cpp), host memory
// (HandleSuite.cpp) and the AEGP suites (AegpSuites.cpp). The tables are
// shared by every Host: each function finds its host through CurrentHost().
#pragma once

#include "AE_Host.h"

namespace hostsim {

const SPBasicSuite* BasicSuiteTable();
const PF_HandleSuite2* HandleSuiteTable();
const AEGP_UtilitySuite7* UtilitySuiteTable();
const AEGP_PFInterfaceSuite1* PFInterfaceSuiteTable();
const AEGP_EffectSuite2* EffectSuiteTable();
const AEGP_StreamSuite9* StreamSuiteTable();
const AEGP_DynamicStreamSuite5* DynamicStreamSuiteTable();
const AEGP_CompSuite15* CompSuiteTable();
const AEGP_LayerSuite13* LayerSuiteTable();
// The drawing suites are offered so that code acquiring them as a set finds
// them; no entry of theirs is meant to be called.
// `which` is 0 to 3: draw, supplier, surface, path.
const void* DrawbotSuiteTable(int which);

// Fills every unused slot of a function table with a function that records
// the call as a misuse, so a call through a wrong slot is reported instead of
// jumping through null.
void FillUnusedSlots(void** slots, int count);

// The error the basic suite returns for a suite it does not offer.
enum : SPErr { kSuiteNotFoundError = 0x53214664 };  // 'S!Fd'

}  // namespace hostsim
