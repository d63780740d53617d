#pragma once
// The protocol link over a real serial port.
#include <cstdint>
#include <memory>
#include <string>

#include "serial/link.h"

namespace hx {

// Opens COM port `comPort` at `baud` with the link's first time-outs (20 ms for
// reading, 5000 ms for writing). Null, with the reason in *why, on failure.
std::unique_ptr<Link> openSerialLink(uint32_t comPort, uint32_t baud, std::string* why);

}  // namespace hx
