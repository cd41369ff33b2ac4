// Basic scalar types and the time record shared by every host interface.
#pragma once

#include <cstdint>

// The host's 32-bit integer is the platform's `long` on Windows (LLP64) and
// `int` elsewhere. The error code thrown across the entry point is this type,
// so the two builds throw and catch different C++ types of the same width.
#if defined(_WIN32)
typedef long A_long;
typedef unsigned long A_u_long;
#else
typedef int A_long;
typedef unsigned int A_u_long;
#endif
static_assert(sizeof(A_long) == 4, "A_long must be 32 bits on every platform");
static_assert(sizeof(A_u_long) == 4, "A_u_long must be 32 bits on every platform");

typedef char A_char;
typedef unsigned char A_u_char;
typedef short A_short;
typedef unsigned short A_u_short;
typedef unsigned char A_Boolean;
typedef std::int64_t A_longlong;
typedef std::uint64_t A_u_longlong;
typedef double A_FpLong;
typedef float A_FpShort;
typedef A_long A_Err;

// A point in time as value / scale seconds. Layout fixed by the host: value,
// then scale, nothing between.
typedef struct {
  A_long value;
  A_u_long scale;
} A_Time;

typedef struct {
  A_long num;
  A_u_long den;
} A_Ratio;
