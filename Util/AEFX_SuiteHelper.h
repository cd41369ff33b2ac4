// Error-code suite access for code that cannot let an exception out: where
// AEGP_SuiteHandler throws, these return PF_Err and ask the host to show a
// message to the user. Carried by the macOS bundle (and the Linux module that
// mirrors it), never by the Windows module.
#pragma once

#include "AE_Host.h"
#include "UtilExport.h"

#if !defined(_WIN32)

#ifdef __cplusplus
extern "C" {
#endif

// The four drawing suites, acquired and released as a set. Nothing here calls
// into them, so their tables stay untyped. The caller clears the record before
// acquiring; after a failed acquisition the suites already obtained stay in it.
typedef struct {
  const void* draw;      // "DRAWBOT Draw Suite" 1
  const void* supplier;  // "DRAWBOT Supplier Suite" 1
  const void* surface;   // "DRAWBOT Surface Suite" 1
  const void* path;      // "DRAWBOT Path Suite" 1
} DrawbotSuites;

// Acquires one suite into *suite. Returns 0 when the host delivered a table,
// whatever code it answered; otherwise 516 with message (or the default text)
// shown to the user. A successful acquisition is given back with
// AEFX_ReleaseSuite.
TOVANE_UTIL_API PF_Err AEFX_AcquireSuite(PF_InData* in_data, PF_OutData* out_data, const char* name,
                                         A_long version, const char* message, const void** suite);

// Gives one suite back. Returns 0 once the release reached the host, whatever
// it answered; 516 with a message when there is no basic suite to reach.
TOVANE_UTIL_API PF_Err AEFX_ReleaseSuite(PF_InData* in_data, PF_OutData* out_data, const char* name,
                                         A_long version, const char* message);

// Acquires draw, supplier, surface and path in that order and stops at the
// first one the host does not deliver (516); the earlier ones stay acquired
// and in the record, so the caller still owes their release.
TOVANE_UTIL_API PF_Err AEFX_AcquireDrawbotSuites(PF_InData* in_data, PF_OutData* out_data,
                                                 DrawbotSuites* suites);

// Gives back all four drawing suites, attempting each even when an earlier
// one could not be released. Always returns 0; failures are only shown.
TOVANE_UTIL_API PF_Err AEFX_ReleaseDrawbotSuites(PF_InData* in_data, PF_OutData* out_data);

#ifdef __cplusplus
}
#endif

#endif  // !_WIN32
