#include "history/port_device.h"

#include <filesystem>

#include "system/serial_devices_linux.h"

namespace hxflash {

std::string withUsbIdentity(const std::string& whereItAppears) {
  const size_t arrow = whereItAppears.find(" -> ");
  const std::string target = arrow == std::string::npos ? whereItAppears : whereItAppears.substr(arrow + 4);
  std::error_code ec;
  const std::filesystem::path device = std::filesystem::weakly_canonical(target, ec);
  if (ec || !device.string().starts_with("/dev/")) return whereItAppears;  // a pty, or nothing there
  for (const SerialDevice& serial : findSerialDevices(SystemRoots{})) {
    if (serial.devicePath != device.string()) continue;
    std::string text = whereItAppears;
    if (!serial.byPath.empty()) text += " usb " + serial.byPath.front();
    if (serial.usb && !serial.usb->serial.empty()) text += " serial " + serial.usb->serial;
    return text;
  }
  return whereItAppears;
}

}  // namespace hxflash
