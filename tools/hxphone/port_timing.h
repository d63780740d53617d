#pragma once
// How the phone's link is timed: how long the phone waits for a silent host,
// and the pace of a USB full-speed port when the link is to have one.
#include <chrono>
#include <optional>

#include "hxphone/link_pacer.h"

namespace hxphone {

struct PortTiming {
  std::chrono::milliseconds silenceLimit{60000};  // longest wait for the host's next byte
  std::optional<PacedLink> pacedLink;              // none: as fast as the descriptor goes
};

}  // namespace hxphone
