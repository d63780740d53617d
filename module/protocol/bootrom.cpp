#include "protocol/bootrom.h"

#include "platform/log.h"

namespace hx {

// Placeholder until the BootROM protocol lands: the connection fails cleanly.
int connectBootRom(Link&, const ImageBuffer&, const ImageBuffer&) {
  logMessage("Connecting to BootROM...\n");
  return 2005;
}

}  // namespace hx
