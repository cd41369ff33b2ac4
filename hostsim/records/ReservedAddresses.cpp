#include "ReservedAddresses.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <stdexcept>

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/mman.h>
#endif

namespace hostsim {

namespace {

constexpr std::size_t kRangeBytes = std::size_t{1} << 30;

// Reserved on first use and kept for the process's life; no access is
// allowed to it, so a module that reads through a reference faults.
const unsigned char* Range() {
  static const unsigned char* const range = [] {
#if defined(_WIN32)
    void* reserved = VirtualAlloc(nullptr, kRangeBytes, MEM_RESERVE, PAGE_NOACCESS);
    if (reserved == nullptr) throw std::runtime_error("cannot reserve address space for the host's references");
#else
    void* reserved = mmap(nullptr, kRangeBytes, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (reserved == MAP_FAILED) throw std::runtime_error("cannot reserve address space for the host's references");
#endif
    return static_cast<const unsigned char*>(reserved);
  }();
  return range;
}

}  // namespace

const void* NextReservedAddress() {
  static std::atomic<std::size_t> next{0};
  const std::size_t offset = next++;
  if (offset >= kRangeBytes) throw std::runtime_error("the host has handed out all the references it can");
  return Range() + offset;
}

}  // namespace hostsim
