// "PF Handle Suite" version 2: relocatable host memory.
#pragma once

#include "A_Types.h"

// A handle points at the pointer to its bytes; dereferencing it once gives the
// bytes without locking.
typedef void** PF_Handle;

#define kPFHandleSuite "PF Handle Suite"
#define kPFHandleSuiteVersion2 2

typedef struct {
  PF_Handle (*host_new_handle)(A_u_longlong size);  // null when out of memory
  void* (*host_lock_handle)(PF_Handle h);           // null when it cannot be locked
  void (*host_unlock_handle)(PF_Handle h);
  void (*host_dispose_handle)(PF_Handle h);
  A_u_longlong (*host_get_handle_size)(PF_Handle h);
} PF_HandleSuite2;

// Positions in the function table are part of the host's interface.
#include <cstddef>
static_assert(offsetof(PF_HandleSuite2, host_new_handle) == 0 * sizeof(void*), "function table position");
static_assert(offsetof(PF_HandleSuite2, host_lock_handle) == 1 * sizeof(void*), "function table position");
static_assert(offsetof(PF_HandleSuite2, host_unlock_handle) == 2 * sizeof(void*), "function table position");
static_assert(offsetof(PF_HandleSuite2, host_dispose_handle) == 3 * sizeof(void*), "function table position");
