#include "system/serial_devices_linux.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <tuple>

#include "system/user_names.h"

namespace hxflash {
namespace {

namespace fs = std::filesystem;

// sysfs attributes are short texts; a USB string is at most 126 characters.
constexpr std::streamsize kAttributeLimit = 256;

// The serial_core "type" of a UART the kernel found no hardware behind.
constexpr const char* kUnknownUartType = "0";

constexpr const char* kSerialCoreBus = "serial-base";

// udev's record of a character device: <run>/udev/data/c<major>:<minor>, one
// property a line ("E:NAME=value").
constexpr std::streamsize kUdevRecordLimit = 64 * 1024;
constexpr const char* kModemManagerIgnoreLine = "E:ID_MM_DEVICE_IGNORE=1";

// A sysfs attribute's text without its line end, control characters shown as
// '?' (USB strings are the device's to choose and end up on a terminal), or
// nothing when the attribute is missing.
std::optional<std::string> attribute(const fs::path& file) {
  std::error_code ec;
  if (!fs::is_regular_file(file, ec)) return std::nullopt;  // never wait on a pipe in a tree
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  std::string text(static_cast<size_t>(kAttributeLimit), '\0');
  in.read(text.data(), kAttributeLimit);
  if (in.bad()) return std::nullopt;
  text.resize(static_cast<size_t>(in.gcount()));
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
  for (char& c : text) {
    if (std::iscntrl(static_cast<unsigned char>(c))) c = '?';
  }
  return text;
}

std::string attributeOr(const fs::path& file, const std::string& otherwise = {}) {
  return attribute(file).value_or(otherwise);
}

// Whether `path` (both canonical) lies inside `root`: links in a tree are
// followed only as far as the tree reaches.
bool isInside(const fs::path& path, const fs::path& root) {
  return std::mismatch(root.begin(), root.end(), path.begin(), path.end()).first == root.end();
}

// The folder a sysfs link leads to, when it leads somewhere inside `root`.
std::optional<fs::path> linkTarget(const fs::path& link, const fs::path& root) {
  std::error_code ec;
  const fs::path target = fs::canonical(link, ec);
  if (ec || !isInside(target, root)) return std::nullopt;
  return target;
}

// The USB identity of the first device above `device` (itself included) that
// has a vendor id; the interface's name from the USB interface on the way.
std::optional<UsbIdentity> usbIdentityAbove(const fs::path& device, const fs::path& root) {
  UsbIdentity usb;
  bool interfaceSeen = false;
  for (fs::path dir = device; isInside(dir, root) && dir != root; dir = dir.parent_path()) {
    std::error_code ec;
    if (!interfaceSeen && fs::exists(dir / "bInterfaceNumber", ec)) {
      usb.interfaceName = attributeOr(dir / "interface");
      interfaceSeen = true;
    }
    if (std::optional<std::string> vendor = attribute(dir / "idVendor")) {
      usb.vendorId = *vendor;
      usb.productId = attributeOr(dir / "idProduct");
      usb.serial = attributeOr(dir / "serial");
      usb.product = attributeOr(dir / "product");
      usb.manufacturer = attributeOr(dir / "manufacturer");
      return usb;
    }
    if (dir == dir.parent_path()) break;
  }
  return std::nullopt;
}

// The driver of the device or of the first device above it that has one,
// passing over the serial core's own port devices (bus serial-base, since
// Linux 6.5), whose driver names no hardware.
std::string driverOf(const fs::path& device, const fs::path& root) {
  for (fs::path dir = device; isInside(dir, root) && dir != root; dir = dir.parent_path()) {
    const std::optional<fs::path> driver = linkTarget(dir / "driver", root);
    if (driver && driver->parent_path().parent_path().filename() != kSerialCoreBus)
      return driver->filename().string();
    if (dir == dir.parent_path()) break;
  }
  return {};
}

// The names in `folder` (a /dev/serial folder) that lead to `node`.
std::vector<std::string> namesLeadingTo(const fs::path& folder, const fs::path& node) {
  std::vector<std::string> names;
  std::error_code ec;
  const fs::path target = fs::canonical(node, ec);
  if (ec) return names;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code linkEc;
    if (fs::canonical(it->path(), linkEc) == target && !linkEc) names.push_back(it->path().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

DeviceNode describeNode(const std::string& path) {
  DeviceNode node;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return node;
  node.exists = true;
  node.isCharDevice = S_ISCHR(st.st_mode);
  node.owner = ownerName(st.st_uid);
  node.group = groupName(st.st_gid);
  node.gid = st.st_gid;
  node.mode = st.st_mode & 07777;
  // Asked without opening it: opening a real tty raises its modem lines.
  node.mayOpen = ::access(path.c_str(), R_OK | W_OK) == 0;
  if (!node.mayOpen) node.whyNot = std::strerror(errno);
  return node;
}

// "166:0", the tty's device number as its `dev` attribute shows it.
bool isDeviceNumber(const std::string& text) {
  const size_t colon = text.find(':');
  auto digits = [](const std::string& part) {
    return !part.empty() && part.size() <= 10 &&
           std::all_of(part.begin(), part.end(), [](unsigned char c) { return std::isdigit(c); });
  };
  return colon != std::string::npos && digits(text.substr(0, colon)) && digits(text.substr(colon + 1));
}

// Whether udev's record of the tty says ModemManager is to leave it alone.
std::optional<bool> modemManagerIgnores(const fs::path& ttyDir, const SystemRoots& roots) {
  const std::optional<std::string> number = attribute(ttyDir / "dev");
  if (!number || !isDeviceNumber(*number)) return std::nullopt;
  const fs::path record = fs::path(roots.run) / "udev" / "data" / ("c" + *number);
  std::error_code ec;
  if (!fs::is_regular_file(record, ec)) return std::nullopt;
  std::ifstream in(record, std::ios::binary);
  std::string text(static_cast<size_t>(kUdevRecordLimit), '\0');
  in.read(text.data(), kUdevRecordLimit);
  text.resize(static_cast<size_t>(in.gcount()));
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (line == kModemManagerIgnoreLine) return true;
  }
  return false;
}

// The tty `name` of <sys>/class/tty, when it is a serial device.
std::optional<SerialDevice> serialDevice(const fs::path& ttyClass, const std::string& name, const fs::path& sysRoot,
                                         const SystemRoots& roots) {
  const std::optional<fs::path> device = linkTarget(ttyClass / name / "device", sysRoot);
  if (!device) return std::nullopt;  // a virtual console, a pty: no hardware
  if (attribute(ttyClass / name / "type") == kUnknownUartType) return std::nullopt;
  SerialDevice serial;
  serial.name = name;
  serial.devicePath = roots.dev + "/" + name;
  serial.driver = driverOf(*device, sysRoot);
  serial.usb = usbIdentityAbove(*device, sysRoot);
  serial.byId = namesLeadingTo(fs::path(roots.dev) / "serial" / "by-id", serial.devicePath);
  serial.byPath = namesLeadingTo(fs::path(roots.dev) / "serial" / "by-path", serial.devicePath);
  serial.node = describeNode(serial.devicePath);
  serial.modemManagerIgnores = modemManagerIgnores(ttyClass / name, roots);
  return serial;
}

// ttyACM2 before ttyACM10: the letters, then the number they end in.
bool inNameOrder(const SerialDevice& a, const SerialDevice& b) {
  auto key = [](const std::string& name) {
    const size_t digits = name.find_last_not_of("0123456789") + 1;
    const std::string number = name.substr(digits);
    return std::make_tuple(name.substr(0, digits), number.size(), number);
  };
  return key(a.name) < key(b.name);
}

}  // namespace

std::vector<SerialDevice> findSerialDevices(const SystemRoots& roots) {
  std::vector<SerialDevice> devices;
  std::error_code ec;
  const fs::path sysRoot = fs::canonical(roots.sys, ec);
  if (ec) return devices;
  const fs::path ttyClass = sysRoot / "class" / "tty";
  for (fs::directory_iterator it(ttyClass, ec), end; !ec && it != end; it.increment(ec)) {
    if (auto device = serialDevice(ttyClass, it->path().filename().string(), sysRoot, roots))
      devices.push_back(std::move(*device));
  }
  std::sort(devices.begin(), devices.end(), inNameOrder);
  return devices;
}

std::string stableName(const SerialDevice& device) {
  if (!device.byPath.empty()) return device.byPath.front();
  if (!device.byId.empty()) return device.byId.front();
  return device.devicePath;
}

}  // namespace hxflash
