// Visibility of the Util functions. The macOS bundle (and the Linux module
// that mirrors it) exports them beside EntryPointFunc; the Windows module
// exports nothing but EntryPointFunc, through its module definition file.
#pragma once

#if defined(_WIN32)
#define TOVANE_UTIL_API
#else
#define TOVANE_UTIL_API __attribute__((visibility("default")))
#endif
