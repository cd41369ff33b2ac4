// "PF Handle Suite" 2: host memory for the effect's global and pre-render data.

#include "Host.h"
#include "HostCall.h"
#include "SuiteTables.h"

namespace hostsim {

namespace {

// Handles appear in the trace by serial number, so traces of two runs compare equal.
nlohmann::ordered_json HandleId(Host& host, PF_Handle handle) {
  return handle == nullptr ? nlohmann::ordered_json() : nlohmann::ordered_json(host.handles().Id(handle));
}

PF_Handle NewHandle(A_u_longlong size) {
  return HostCall("host_new_handle", nullptr, [=](Host& host, auto& entry) -> PF_Handle {
    entry["size"] = size;
    PF_Handle handle = nullptr;
    if (!host.Injected("host_new_handle")) handle = host.handles().New(static_cast<std::size_t>(size));
    if (entry.tracing()) entry["result"] = HandleId(host, handle);
    host.Record(entry);
    return handle;
  });
}

void* LockHandle(PF_Handle handle) {
  return HostCall("host_lock_handle", nullptr, [=](Host& host, auto& entry) -> void* {
    if (entry.tracing()) entry["handle"] = HandleId(host, handle);
    void* bytes = nullptr;
    if (!host.handles().Contains(handle)) {
      host.Misuse(entry, "unknown handle");
    } else if (!host.Injected("host_lock_handle")) {
      host.handles().Lock(handle, &bytes);
    }
    entry["result"] = bytes != nullptr;
    host.Record(entry);
    return bytes;
  });
}

void UnlockHandle(PF_Handle handle) {
  HostCall("host_unlock_handle", [=](Host& host, auto& entry) {
    if (entry.tracing()) entry["handle"] = HandleId(host, handle);
    if (!host.handles().Unlock(handle)) host.Misuse(entry, "unknown handle");
    entry["result"] = nullptr;
    host.Record(entry);
  });
}

void DisposeHandle(PF_Handle handle) {
  HostCall("host_dispose_handle", [=](Host& host, auto& entry) {
    if (entry.tracing()) entry["handle"] = HandleId(host, handle);
    if (!host.handles().Dispose(handle)) host.Misuse(entry, "unknown handle");
    entry["result"] = nullptr;
    host.Record(entry);
  });
}

A_u_longlong GetHandleSize(PF_Handle handle) {
  return HostCall("host_get_handle_size", 0, [=](Host& host, auto& entry) -> A_u_longlong {
    if (entry.tracing()) entry["handle"] = HandleId(host, handle);
    std::size_t size = 0;
    if (!host.handles().Size(handle, &size)) host.Misuse(entry, "unknown handle");
    entry["result"] = size;
    host.Record(entry);
    return size;
  });
}

const PF_HandleSuite2 kHandleSuite = {NewHandle, LockHandle, UnlockHandle, DisposeHandle, GetHandleSize};

// A call through a slot that this host leaves unimplemented.
A_Err UnusedSlot() {
  if (Host* host = CurrentHost()) {
    TraceEntry entry = host->CallEntry("unimplemented suite function");
    host->Misuse(entry, "call through an unused function-table slot");
    entry["result"] = PF_Err_INVALID_CALLBACK;
    host->Record(entry);
  }
  return PF_Err_INVALID_CALLBACK;
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
