#pragma once
// A COM port named on the command line, with the serial device to attach as
// that port where the platform has such devices.
#include <cstdint>
#include <string>

namespace hxflash {

struct PortAssignment {
  uint32_t comPort = 0;
  std::string device;  // empty: the port's entry is made by someone else (hxphone)
};

// "41" or "41=/dev/ttyACM0". Throws std::invalid_argument on anything else.
PortAssignment parsePortAssignment(const std::string& text);

}  // namespace hxflash
