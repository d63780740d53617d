// The protocol link on Windows. The Win32 serial device is not part of this
// build yet: no COM port opens, so a session waits for its phone until the
// host aborts the wait, and a download finds no connected phone and fails.
// Nothing is ever reported as a success.
#include <string>

#include "serial/serial_link.h"

namespace hx {

std::unique_ptr<Link> openSerialLink(uint32_t comPort, uint32_t, std::string* why) {
  if (why) *why = "COM" + std::to_string(comPort) + ": this build has no serial link";
  return nullptr;
}

}  // namespace hx
