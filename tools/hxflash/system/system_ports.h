#pragma once
// The system's serial ports as the module's own enumeration finds them, each
// with its COM number and whether the module takes it for a phone's port: by
// its name (the module's filter) and by its number (the ports the module
// serves). `hxflash.exe ports` prints them from the Win32 system; tests give
// a scripted one.
#include <cstdint>
#include <string>
#include <vector>

#include "ports/port_system.h"

namespace hxflash {

struct SystemPort {
  std::string portName;      // COM44
  uint32_t comNumber = 0;    // 44; 0 when the name carries none
  std::string friendlyName;  // the name the system shows for the device
  bool onUsb = false;
  bool phoneName = false;    // the module's filter takes its name for a phone's port
};

// Throws hx::PortEnumerationError when the system fails on the way.
std::vector<SystemPort> systemPorts(hx::PortSystem& system);

// The listing, one line per port, and what to do when no phone's port is there.
std::string describeSystemPorts(const std::vector<SystemPort>& ports);

}  // namespace hxflash
