#pragma once
// A COM port named on the command line, with the serial device to attach as
// that port where the platform has such devices.
#include <cstdint>
#include <string>

namespace hxflash {

// The COM numbers the module serves: its sessions' ports.
inline constexpr uint32_t kFirstServedComPort = 40;
inline constexpr uint32_t kLastServedComPort = 255;
// The same range as the messages say it.
inline constexpr const char* kServedComPorts = "COM40..COM255";
inline constexpr const char* kServedComNumbers = "40..255";

// How a Windows user gives a phone's port a number the module serves.
inline constexpr const char* kComNumberAdvice =
    "give the phone's port such a number in the Device Manager (the port's Port Settings, Advanced, COM Port Number)";

constexpr bool isServedComPort(uint32_t com) { return com >= kFirstServedComPort && com <= kLastServedComPort; }

struct PortAssignment {
  uint32_t comPort = 0;
  std::string device;  // empty: the port's entry is made by someone else (hxphone)
};

// "41" or "41=/dev/ttyACM0". Throws std::invalid_argument on anything else.
PortAssignment parsePortAssignment(const std::string& text);

}  // namespace hxflash
