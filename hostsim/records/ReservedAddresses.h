// Addresses that stand for references the host hands out. They come from a
// range of address space this process reserves and never backs with
// memory, one after the other: no reference equals the address of anything
// else, none is handed out twice, and none costs memory to keep unused.
#pragma once

namespace hostsim {

// A new address, never returned before in this process. Thread-safe.
// Throws std::runtime_error when the range is used up (after 2^30).
const void* NextReservedAddress();

}  // namespace hostsim
