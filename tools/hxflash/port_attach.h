#pragma once
// Attaching real serial devices as COM ports: an entry com<n> in the ports
// directory that names the device.
#include <cstdint>
#include <string>

namespace hxflash {

struct PortAssignment {
  uint32_t comPort = 0;
  std::string device;  // empty: the port's entry is made by someone else (hxphone)
};

// "41" or "41=/dev/ttyACM0". Throws std::invalid_argument on anything else.
PortAssignment parsePortAssignment(const std::string& text);

// Creates the entry while it lives (the ports directory with mode 0700 if
// missing) and removes it again, unless it named something else meanwhile.
class AttachedPort {
 public:
  AttachedPort(uint32_t comPort, const std::string& device);
  ~AttachedPort();
  AttachedPort(const AttachedPort&) = delete;
  AttachedPort& operator=(const AttachedPort&) = delete;

 private:
  std::string m_entry;
  std::string m_device;
};

}  // namespace hxflash
