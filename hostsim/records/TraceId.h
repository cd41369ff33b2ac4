// How the trace names a record the host handed out (a handle, an effect or
// stream reference): by a serial number of its table (1, 2, ...), or, for a
// record made while a frame rendered among others, by the frame and a serial
// within it (frame 3's first handle is "3.1"). None: serial 0.
#pragma once

#include <string>

namespace hostsim {

struct TraceId {
  int frame = 0;   // 0: numbered by its table
  int serial = 0;  // 0: no record

  bool none() const { return serial == 0; }
  std::string Text() const { return std::to_string(frame) + "." + std::to_string(serial); }
  bool operator==(const TraceId& other) const { return frame == other.frame && serial == other.serial; }
};

}  // namespace hostsim
