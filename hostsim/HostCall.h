// How each host function the module calls is run: find the host of the
// running command, then run the function's body with the trace entry of the
// call. The body is written once, as a generic lambda, and compiled twice:
// against TraceEntry for a traced call, out of line, and against
// UntracedEntry for an untraced one, inline. So an untraced call carries no
// trace code at all, only its checks and its answer, which is what a render
// through the host costs when timed.
#pragma once

#include <exception>
#include <new>
#include <type_traits>

#include "CurrentHost.h"
#include "Host.h"
#include "TraceEntry.h"

namespace hostsim {

template <typename Body>
[[gnu::noinline]] decltype(auto) TracedHostCall(Host& host, const char* call, Body& body) {
  TraceEntry entry(true, call);
  return body(host, entry);
}

template <typename T>
struct NotDeduced {
  using type = T;
};

// Runs `body(host, entry)` for the host function `call` and returns what it
// returns; `no_host` is the answer when no command is running on this thread.
template <typename Body, typename Result = std::invoke_result_t<Body&, Host&, UntracedEntry&>>
Result HostCall(const char* call, typename NotDeduced<Result>::type no_host, Body body) {
  Host* host = CurrentHost();
  if (host == nullptr) return no_host;
  if (host->trace().enabled()) {
    // A copy made here: only the traced call needs the body in memory, and
    // the untraced one keeps its captures in registers.
    Body traced = body;
    return TracedHostCall(*host, call, traced);
  }
  UntracedEntry entry(call);
  return body(*host, entry);
}

// The same for a host function without a result.
template <typename Body>
void HostCall(const char* call, Body body) {
  Host* host = CurrentHost();
  if (host == nullptr) return;
  if (host->trace().enabled()) {
    Body traced = body;
    return TracedHostCall(*host, call, traced);
  }
  UntracedEntry entry(call);
  body(*host, entry);
}

// The answer for a failure of the host's own (unreadable footage, no
// memory) inside a call: it never crosses into the effect as an exception.
inline PF_Err HostFailureCode(const std::exception& failure) {
  return dynamic_cast<const std::bad_alloc*>(&failure) != nullptr ? PF_Err_OUT_OF_MEMORY
                                                                  : PF_Err_INTERNAL_STRUCT_DAMAGED;
}

// Ends a call's entry with its result and records it; returns the result.
template <typename Entry>
A_Err Finish(Host& host, Entry& entry, A_Err result) {
  entry["result"] = result;
  host.Record(entry);
  return result;
}

}  // namespace hostsim
