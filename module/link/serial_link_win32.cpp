// The protocol link on Windows: the communications handle of comm_link.cpp on
// the Win32 system.
#include "link/comm_link.h"
#include "link/serial_link.h"

namespace hx {

std::unique_ptr<SerialPortLink> openSerialLink(uint32_t comPort, uint32_t baud, std::string* why) {
  return openCommLink(makeWin32SerialSystem(), comPort, baud, why);
}

}  // namespace hx
