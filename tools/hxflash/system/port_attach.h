#pragma once
// Attaching real serial devices as COM ports: an entry com<n> in the ports
// directory that names the device.
#include <cstdint>
#include <string>

#include "host/port_assignment.h"

namespace hxflash {

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
