// "PF Handle Suite" 2: host memory for the effect's global and pre-render data.

#include "HostState.h"
#include "HostCall.h"
#include "SuiteTables.h"

namespace hostsim {

namespace {

// Handles appear in the trace by id, so traces of two runs compare equal.
nlohmann::ordered_json HandleId(HostState& host, PF_Handle handle) { return TracedResult(host, handle); }

PF_Handle NewHandle(A_u_longlong size) {
  return HostCall<PF_Handle>(HostFunctionId::kNewHandle, nullptr, [=](HostState& host, TraceEntry& entry) {
    entry["size"] = size;
    return host.effect.handles.New(static_cast<std::size_t>(size), host.NextId(&FrameNumbering::handles));
  });
}

void* LockHandle(PF_Handle handle) {
  return HostCall<void*>(HostFunctionId::kLockHandle, nullptr, [=](HostState& host, TraceEntry& entry) {
    entry["handle"] = HandleId(host, handle);
    void* bytes = nullptr;
    if (!host.effect.handles.Lock(handle, &bytes)) host.Misuse(entry, "unknown handle");
    return bytes;
  });
}

void UnlockHandle(PF_Handle handle) {
  HostCall(HostFunctionId::kUnlockHandle, [=](HostState& host, TraceEntry& entry) {
    entry["handle"] = HandleId(host, handle);
    if (!host.effect.handles.Unlock(handle)) host.Misuse(entry, "unknown handle");
  });
}

void DisposeHandle(PF_Handle handle) {
  HostCall(HostFunctionId::kDisposeHandle, [=](HostState& host, TraceEntry& entry) {
    entry["handle"] = HandleId(host, handle);
    if (!host.effect.handles.Dispose(handle)) host.Misuse(entry, "unknown handle");
  });
}

A_u_longlong GetHandleSize(PF_Handle handle) {
  return HostCall<A_u_longlong>(HostFunctionId::kGetHandleSize, 0, [=](HostState& host, TraceEntry& entry) {
    entry["handle"] = HandleId(host, handle);
    std::size_t size = 0;
    if (!host.effect.handles.Size(handle, &size)) host.Misuse(entry, "unknown handle");
    return static_cast<A_u_longlong>(size);
  });
}

const PF_HandleSuite2 kHandleSuite = [] {
  PF_HandleSuite2 table{};
  table.host_new_handle = NewHandle;
  table.host_lock_handle = LockHandle;
  table.host_unlock_handle = UnlockHandle;
  table.host_dispose_handle = DisposeHandle;
  table.host_get_handle_size = GetHandleSize;
  return table;
}();

// A call through a slot that this host leaves unimplemented.
A_Err UnusedSlot() {
  return HostCall<A_Err>(HostFunctionId::kUnusedSlot, PF_Err_INVALID_CALLBACK, [](HostState& host, TraceEntry& entry) -> A_Err {
    host.Misuse(entry, "call through an unused function-table slot");
    return PF_Err_INVALID_CALLBACK;
  });
}

}  // namespace

const PF_HandleSuite2* HandleSuiteTable() { return &kHandleSuite; }

void FillUnusedSlots(void** slots, int count) {
  for (int i = 0; i < count; ++i) slots[i] = reinterpret_cast<void*>(&UnusedSlot);
}

const void* DrawbotSuiteTable(int which) {
  enum { kSuites = 4, kSlots = 32 };
  static void* const* tables = [] {
    static void* slots[kSuites * kSlots];
    FillUnusedSlots(slots, kSuites * kSlots);
    return slots;
  }();
  return tables + (which % kSuites) * kSlots;
}

}  // namespace hostsim
