// The host's basic suite: named, versioned function suites are acquired and
// released through it.
#pragma once

#include <cstddef>

#include "A_Types.h"

typedef A_long SPErr;
enum { kSPNoError = 0 };

typedef struct SPBasicSuite {
  // Writes the suite's function table to *suite and returns 0, or returns
  // non-zero (or leaves *suite null) when the host has no such suite.
  // Every successful acquisition must be released once.
  SPErr (*AcquireSuite)(const char* name, A_long version, const void** suite);
  SPErr (*ReleaseSuite)(const char* name, A_long version);
  A_Boolean (*IsEqual)(const char* token1, const char* token2);
  SPErr (*AllocateBlock)(size_t size, void** block);
  SPErr (*FreeBlock)(void* block);
  SPErr (*ReallocateBlock)(void* block, size_t new_size, void** new_block);
  SPErr (*Undefined)(void);
} SPBasicSuite;

// Positions in the function table are part of the host's interface.
static_assert(offsetof(SPBasicSuite, AcquireSuite) == 0 * sizeof(void*), "function table position");
static_assert(offsetof(SPBasicSuite, ReleaseSuite) == 1 * sizeof(void*), "function table position");
