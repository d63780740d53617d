#pragma once
// The BootROM conversation: handshake, watchdog off, power key, agent load, jump.
#include "package/image_buffer.h"
#include "serial/link.h"

namespace hx {

// Runs the BootROM connection on an open link at 19200 baud. 0 or a BootROM
// result code.
int connectBootRom(Link& link, const ImageBuffer& da1, const ImageBuffer& da2);

}  // namespace hx
