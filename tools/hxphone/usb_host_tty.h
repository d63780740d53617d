#pragma once
// The host's side of a phone's USB gadget: the tty the cdc-acm driver made
// when the gadget enumerated. sysfs links each tty to its USB interface
// (/sys/class/tty/ttyACM0/device -> .../<bus>-<port>:1.0), whose parent is
// the USB device with its ids and strings; the gadget's own serial string
// tells it apart from every other device on the machine.
#include <optional>
#include <string>

namespace hxphone {

// "/dev/ttyACM<n>" of the USB device with the phone's ids and this serial
// string, under `sysRoot` (/sys); nothing while there is none.
std::optional<std::string> findHostTty(const std::string& sysRoot, const std::string& serial);

}  // namespace hxphone
