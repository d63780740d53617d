#pragma once
// What a phone's port maps to, for its record: the port's entry and device
// as the station names them, with the USB socket's path and the device's
// serial number where Linux knows them.
#include <string>

namespace hxflash {

// `whereItAppears`: "<entry> -> <device>" (or a name alone). The same text,
// followed by " usb <by-path name> serial <serial>" for a USB serial device.
std::string withUsbIdentity(const std::string& whereItAppears);

}  // namespace hxflash
