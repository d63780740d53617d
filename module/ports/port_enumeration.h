#pragma once
// The enumeration of the system's serial ports that belong to phones: the
// system's ports by one of three methods chosen by the Windows version, kept
// only when their name marks them as a phone's port, missing names filled in.
// The port manager's presence checks look for a port number in the list.
#include <cstdint>
#include <stdexcept>
#include <string>

#include "platform/framework_array.h"
#include "ports/port_system.h"

namespace hx {

struct SSerInfo {
  std::string devicePath;    // the name to open the port with, \\.\COM7
  std::string portName;      // COM7
  std::string friendlyName;  // the name the system shows for the device
  int32_t isUsb = 0;         // 1 if the port sits on a USB device, as far as the method can tell
  std::string description;   // the friendly name without its " #<n>" suffix
  uint8_t portNumber = 0;    // from portName ("COM%d", low 8 bits); 0 where the method does not set it

  bool operator==(const SSerInfo&) const = default;
};

using SerInfoList = CArray<SSerInfo>;

// A failure of the system on the way, with the enumeration's error text.
class PortEnumerationError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Fills `list` with the phone ports of `system` (appended, or in place of what
// it held when `clearFirst`). `ignoreBusy`: ports that do not open now are
// dropped. `useModemClass`: the device-interface method lists modems instead
// of serial ports. Throws PortEnumerationError, with every key and device set
// closed and `list` as it was.
void EnumerateSerialPorts(PortSystem& system, SerInfoList& list, int ignoreBusy, int useModemClass, int clearFirst);

#if defined(_WIN32)
// The same on the Win32 system.
void EnumerateSerialPorts(SerInfoList& list, int ignoreBusy, int useModemClass, int clearFirst);
#endif

// The system's serial ports as its method for this Windows version lists
// them, appended to `list` (a port name already listed by the registry method
// is replaced), before any filtering.
void collectSerialPorts(PortSystem& system, SerInfoList& list, bool useModemClass);

// Whether a friendly name marks a phone's port.
bool isPhonePortName(const std::string& friendlyName);

}  // namespace hx
