#include "AEFX_SuiteHelper.h"

#if !defined(_WIN32)

namespace {

// The drawing suites' names and version, held here rather than taken from a
// host header, so that nothing of the helpers' own can collide with one.
const char kDrawSuite[] = "DRAWBOT Draw Suite";
const char kSupplierSuite[] = "DRAWBOT Supplier Suite";
const char kSurfaceSuite[] = "DRAWBOT Surface Suite";
const char kPathSuite[] = "DRAWBOT Path Suite";
const A_long kDrawingSuitesVersion = 1;

const char kAcquireFailed[] = "Not able to acquire AEFX Suite.";
const char kReleaseFailed[] = "Not able to release AEFX Suite.";

const SPBasicSuite* BasicSuite(const PF_InData* in_data) {
  return in_data != nullptr ? in_data->pica_basicP : nullptr;
}

// Asks the host to show message (or fallback) instead of whatever return_msg
// held. The text goes in as an argument, never as the format: a caller's '%'
// must not be read as a conversion, and a long text must not run past
// return_msg. Without a print callback the text is copied here, so the user
// still learns why.
void ReportFailure(const PF_InData* in_data, PF_OutData* out_data, const char* message, const char* fallback) {
  if (out_data == nullptr) {
    return;  // nowhere to report to; the returned code still tells the caller
  }
  const char* text = message != nullptr ? message : fallback;
  out_data->out_flags |= PF_OutFlag_DISPLAY_ERROR_MESSAGE;

  // The longest message return_msg holds, as the record declares it.
  const int max_length = static_cast<int>(sizeof(out_data->return_msg)) - 1;

  const PF_UtilCallbacks* utils = in_data != nullptr ? in_data->utils : nullptr;
  if (utils != nullptr && utils->ansi.sprintf != nullptr) {
    utils->ansi.sprintf(out_data->return_msg, "%.*s", max_length, text);
    return;
  }
  int length = 0;
  while (length < max_length && text[length] != '\0') {
    out_data->return_msg[length] = text[length];
    ++length;
  }
  out_data->return_msg[length] = '\0';
}

}  // namespace

extern "C" {

PF_Err AEFX_AcquireSuite(PF_InData* in_data, PF_OutData* out_data, const char* name, A_long version,
                         const char* message, const void** suite) {
  const SPBasicSuite* basic = BasicSuite(in_data);
  if (basic == nullptr || suite == nullptr) {
    ReportFailure(in_data, out_data, message, kAcquireFailed);
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  // The pointer, not the host's answer, decides: a host may answer non-zero
  // and still deliver the table. Clearing it first keeps a stale value in the
  // caller's variable from passing for a table the host never handed out.
  *suite = nullptr;
  basic->AcquireSuite(name, version, suite);
  if (*suite != nullptr) {
    return PF_Err_NONE;
  }
  ReportFailure(in_data, out_data, message, kAcquireFailed);
  return PF_Err_BAD_CALLBACK_PARAM;
}

PF_Err AEFX_ReleaseSuite(PF_InData* in_data, PF_OutData* out_data, const char* name, A_long version,
                         const char* message) {
  const SPBasicSuite* basic = BasicSuite(in_data);
  if (basic == nullptr) {
    ReportFailure(in_data, out_data, message, kReleaseFailed);
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  // A refused release leaves nothing the caller could do differently.
  basic->ReleaseSuite(name, version);
  return PF_Err_NONE;
}

PF_Err AEFX_AcquireDrawbotSuites(PF_InData* in_data, PF_OutData* out_data, DrawbotSuites* suites) {
  if (suites == nullptr) {
    ReportFailure(in_data, out_data, nullptr, kAcquireFailed);
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  PF_Err err = AEFX_AcquireSuite(in_data, out_data, kDrawSuite, kDrawingSuitesVersion, nullptr,
                                 &suites->draw);
  if (err == PF_Err_NONE) {
    err = AEFX_AcquireSuite(in_data, out_data, kSupplierSuite, kDrawingSuitesVersion, nullptr,
                            &suites->supplier);
  }
  if (err == PF_Err_NONE) {
    err = AEFX_AcquireSuite(in_data, out_data, kSurfaceSuite, kDrawingSuitesVersion, nullptr,
                            &suites->surface);
  }
  if (err == PF_Err_NONE) {
    err = AEFX_AcquireSuite(in_data, out_data, kPathSuite, kDrawingSuitesVersion, nullptr,
                            &suites->path);
  }
  return err;
}

PF_Err AEFX_ReleaseDrawbotSuites(PF_InData* in_data, PF_OutData* out_data) {
  // Each release is independent: one that cannot reach the host must not
  // keep the others from being given back.
  AEFX_ReleaseSuite(in_data, out_data, kDrawSuite, kDrawingSuitesVersion, nullptr);
  AEFX_ReleaseSuite(in_data, out_data, kSupplierSuite, kDrawingSuitesVersion, nullptr);
  AEFX_ReleaseSuite(in_data, out_data, kSurfaceSuite, kDrawingSuitesVersion, nullptr);
  AEFX_ReleaseSuite(in_data, out_data, kPathSuite, kDrawingSuitesVersion, nullptr);
  return PF_Err_NONE;
}

}  // extern "C"

#endif  // !_WIN32
