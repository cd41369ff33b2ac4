// Memory the host keeps for reuse after the module has given it back (pixel
// worlds, handle storage) is marked unaddressable in builds with
// AddressSanitizer, so a module that still writes through what it gave back
// is caught as it would be with freed memory. In other builds these do
// nothing.
#pragma once

#include <cstddef>

#if defined(__SANITIZE_ADDRESS__)
#define TOVANE_POISONS_KEPT_MEMORY 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TOVANE_POISONS_KEPT_MEMORY 1
#endif
#endif
#if defined(TOVANE_POISONS_KEPT_MEMORY)
#include <sanitizer/asan_interface.h>
#endif

namespace hostsim {

// Marks `size` bytes at `bytes` unaddressable (poisoned) or addressable
// again; null is ignored.
inline void SetKeptMemoryPoisoned(const void* bytes, std::size_t size, bool poisoned) {
#if defined(TOVANE_POISONS_KEPT_MEMORY)
  if (bytes == nullptr) return;
  if (poisoned) {
    ASAN_POISON_MEMORY_REGION(bytes, size);
  } else {
    ASAN_UNPOISON_MEMORY_REGION(bytes, size);
  }
#else
  (void)bytes;
  (void)size;
  (void)poisoned;
#endif
}

}  // namespace hostsim
