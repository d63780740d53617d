#pragma once
// The protocol link over a real serial port.
#include <cstdint>
#include <memory>
#include <string>

#include "link/link.h"

namespace hx {

// A link that is a serial device: besides the byte pipe, its line speed can
// be changed.
class SerialPortLink : public Link {
 public:
  // Logs "[com] Changing baudrate of the communication port: baudrate=<baud>"
  // and changes only the line speed. 0 or 3.
  virtual int changeBaudRate(uint32_t baud) = 0;
};

// Opens COM port `comPort` at `baud` with the link's first time-outs (20 ms for
// reading, 5000 ms for writing). Null, with the reason in *why, on failure; a
// port that failed to open is closed again.
std::unique_ptr<SerialPortLink> openSerialLink(uint32_t comPort, uint32_t baud, std::string* why);

}  // namespace hx
