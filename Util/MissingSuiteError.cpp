// The one way a suite failure leaves a handler: the error code itself is
// thrown, as the platform's 32-bit error type, for EntryPointFunc to return.
#include "AEGP_SuiteHandler.h"

void AEGP_SuiteHandler::MissingSuiteError() const {
  const PF_Err missing_suite = PF_Err_BAD_CALLBACK_PARAM;
  throw missing_suite;
}
