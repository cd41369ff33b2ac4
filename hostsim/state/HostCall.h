// The one wrapper every host function runs in. It finds the host state of
// the running command, holds the records lock lanes share (HostState.h),
// refuses a call the protocol does not allow in that command, injects the
// fault the plan holds for the function, runs the function's body with the
// call's trace entry, and records the entry with the result. Bodies only
// check their arguments and answer.
#pragma once

#include <exception>
#include <mutex>
#include <new>
#include <optional>
#include <type_traits>

#include "CurrentHost.h"
#include "HostState.h"
#include "HostFunctions.h"
#include "TraceEntry.h"

namespace hostsim {

// How a record's id appears in the trace: a number, or "frame.serial" for
// one a frame made among others (TraceId.h); 0 for none.
inline nlohmann::ordered_json TracedId(TraceId id) {
  return id.frame == 0 ? nlohmann::ordered_json(id.serial) : nlohmann::ordered_json(id.Text());
}

// How a result appears in the trace: handles by id, a locked handle's bytes
// as whether there are any, codes and sizes as numbers.
inline nlohmann::ordered_json TracedResult(HostState&, A_long code) { return code; }
inline nlohmann::ordered_json TracedResult(HostState&, A_u_longlong size) { return size; }
inline nlohmann::ordered_json TracedResult(HostState&, void* bytes) { return bytes != nullptr; }
inline nlohmann::ordered_json TracedResult(HostState& host, PF_Handle handle) {
  return handle == nullptr ? nlohmann::ordered_json() : TracedId(host.effect.handles.Id(handle));
}

// What a refused call answers: an error code, or null / zero for functions
// that return a pointer, a handle or a size.
template <typename Result>
Result RefusedAnswer(PF_Err code) {
  if constexpr (std::is_same_v<Result, A_long>) {
    return code;
  } else {
    return Result{};
  }
}

template <typename Result>
Result Finish(HostState& host, TraceEntry& entry, Result result) {
  if (entry.tracing()) entry["result"] = TracedResult(host, result);
  host.Record(entry);
  return result;
}

// Runs `body(host, entry)` as the host function `id` and returns its answer;
// `no_host` is the answer when no command's host is current on this thread.
template <typename Result, typename Body>
Result HostCall(HostFunctionId id, Result no_host, Body body) {
  HostState* host = CurrentHost();
  if (host == nullptr) return no_host;
  const std::lock_guard<std::mutex> held(host->records_lock());
  const HostFunction& function = Describe(id);
  TraceEntry entry(host->trace.enabled(), function.name);
  if (!host->CheckCalledInCommand(function, entry)) {
    return Finish(*host, entry, RefusedAnswer<Result>(PF_Err_BAD_CALLBACK_PARAM));
  }
  if (function.fault == FaultAnswer::kErrorCode || function.fault == FaultAnswer::kNull) {
    if (std::optional<PF_Err> injected = host->faults.OnCall(function.name)) {
      return Finish(*host, entry, RefusedAnswer<Result>(*injected));
    }
  }
  Result result = body(*host, entry);
  if (function.fault == FaultAnswer::kCodeAfterward && result == Result{}) {
    // What was given back stays given back; only the answer fails.
    if (std::optional<PF_Err> injected = host->faults.OnCall(function.name)) {
      result = RefusedAnswer<Result>(*injected);
    }
  }
  return Finish(*host, entry, result);
}

// The same for a host function that answers nothing.
template <typename Body>
void HostCall(HostFunctionId id, Body body) {
  HostState* host = CurrentHost();
  if (host == nullptr) return;
  const std::lock_guard<std::mutex> held(host->records_lock());
  const HostFunction& function = Describe(id);
  TraceEntry entry(host->trace.enabled(), function.name);
  if (host->CheckCalledInCommand(function, entry)) body(*host, entry);
  entry["result"] = nullptr;
  host->Record(entry);
}

// The answer for a failure of the host's own (unreadable footage, no
// memory) inside a call: it never crosses into the effect as an exception.
inline PF_Err HostFailureCode(const std::exception& failure) {
  return dynamic_cast<const std::bad_alloc*>(&failure) != nullptr ? PF_Err_OUT_OF_MEMORY
                                                                  : PF_Err_INTERNAL_STRUCT_DAMAGED;
}

}  // namespace hostsim
