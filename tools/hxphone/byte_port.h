#pragma once
// The phone's link as a stream of bytes each way: the seam its layers share.
// At the bottom a transport moves bytes over a file descriptor; each layer
// above it adds one thing (the USB full-speed pace, the slow-link fault, the
// record of the turns, the faults that strike on the link's bytes); the
// protocol reads and writes typed fields over the top one (PhonePort).
// SessionLink composes them.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "hxphone/session_end.h"

namespace hxphone {

using LinkClock = std::chrono::steady_clock;

// How long a read may wait for the host: until a time, or (none) as long as it takes.
using ReadDeadline = std::optional<LinkClock::time_point>;

// What one read brought.
struct Arrival {
  size_t count = 0;     // 0: the deadline passed before a byte came
  bool waited = false;  // the port had to wait for these bytes: the link may have stood idle before them
};

class BytePort {
 public:
  virtual ~BytePort() = default;

  // Takes at least one and at most into.size() host bytes, waiting until
  // `deadline`. `what` names the awaited bytes when the session ends waiting.
  virtual Ending read(std::span<uint8_t> into, ReadDeadline deadline, const char* what, Arrival* arrival) = 0;

  // Puts every byte on the link; the session ends when the host takes none
  // for too long (`deadline`).
  virtual Ending write(std::span<const uint8_t> bytes, LinkClock::time_point deadline) = 0;
};

}  // namespace hxphone
