#include "hxphone/usb_host_tty.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "hxphone/usb_gadget.h"

namespace hxphone {

namespace {

namespace fs = std::filesystem;

// A sysfs attribute's one line, without its line end ("" when absent).
std::string attribute(const fs::path& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

std::string hex4(uint16_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "%04x", value);
  return text;
}

// The USB device above a tty's interface is the phone's: its ids and serial.
bool isThePhone(const fs::path& usbDevice, const std::string& serial) {
  return attribute(usbDevice / "idVendor") == hex4(kPhoneUsbVendor) &&
         attribute(usbDevice / "idProduct") == hex4(kPhoneUsbProduct) && attribute(usbDevice / "serial") == serial;
}

}  // namespace

std::optional<std::string> findHostTty(const std::string& sysRoot, const std::string& serial) {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(fs::path(sysRoot) / "class/tty", ec)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("ttyACM", 0) != 0) continue;
    std::error_code linkError;
    const fs::path interface = fs::canonical(entry.path() / "device", linkError);
    if (linkError) continue;  // going as we look
    if (isThePhone(interface.parent_path(), serial)) return "/dev/" + name;
  }
  return std::nullopt;
}

}  // namespace hxphone
