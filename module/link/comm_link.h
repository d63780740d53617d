#pragma once
// The protocol link over a communications handle of the Windows system, or of
// a scripted one: one synchronous WriteFile or ReadFile per operation, bounded
// by the driver's time-outs (n + the constant in ms), and a flush after each
// write that a watchdog bounds by the same deadline.
#include <cstdint>
#include <memory>
#include <string>

#include "link/serial_link.h"
#include "link/serial_system.h"

namespace hx {

// Opens "\\.\COM<comPort>" on `system` at `baud`, 8N1 with DTR and RTS raised
// and no flow control, with the first time-outs (20 ms reading, 5000 ms
// writing). Null, with the reason in *why, on failure; a handle that was
// opened is closed again.
std::unique_ptr<SerialPortLink> openCommLink(std::shared_ptr<SerialSystem> system, uint32_t comPort, uint32_t baud,
                                             std::string* why);

}  // namespace hx
