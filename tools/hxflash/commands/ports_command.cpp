// hxflash ports: the machine's serial devices as Linux shows them, whether
// ModemManager is about, and the COM ports the module would see, with
// --port arguments that give each USB socket its COM port. Exit status 1
// when the module cannot use the ports directory or one of its ports.
#include <fmt/core.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>

#include "commands/commands.h"
#include "station/exit_status.h"
#include "system/port_refusals.h"
#include "system/modem_manager_linux.h"
#include "ports/com_mngr.h"
#include "ports/port_enumeration.h"
#include "host/port_assignment.h"
#include "link/port_names.h"
#include "system/serial_devices_linux.h"

namespace hxflash {
namespace {

// Host port index p serves COM(40 + p); the first index is 1.
constexpr uint32_t kFirstStationComPort = kFirstServedComPort + 1;

// The COM numbers of the directory's com<n> entries, in order.
std::vector<uint32_t> comPortsIn(const std::string& dir, std::error_code& ec) {
  std::vector<uint32_t> ports;
  for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.size() < 4 || name.size() > 6 || name.compare(0, 3, "com") != 0) continue;
    if (!std::all_of(name.begin() + 3, name.end(), ::isdigit)) continue;
    const unsigned long n = std::stoul(name.substr(3));
    if (n <= kLastServedComPort) ports.push_back(static_cast<uint32_t>(n));
  }
  std::sort(ports.begin(), ports.end());
  return ports;
}

// Whether the module would take the device for a phone's port, by its
// product's or its interface's name.
bool isPhonePort(const SerialDevice& device) {
  return device.usb &&
         (hx::isPhonePortName(device.usb->product) || hx::isPhonePortName(device.usb->interfaceName));
}

std::string describeIdentity(const SerialDevice& device) {
  const std::string driver = device.driver.empty() ? "no driver" : "driver " + device.driver;
  if (!device.usb) return "UART, " + driver;
  const UsbIdentity& usb = *device.usb;
  return fmt::format("USB {}:{} \"{}\" by \"{}\", serial \"{}\", interface \"{}\", {}", usb.vendorId, usb.productId,
                     usb.product, usb.manufacturer, usb.serial, usb.interfaceName, driver);
}

std::string describeAccess(const DeviceNode& node) {
  if (!node.exists) return "no device file";
  std::string text = fmt::format("{}:{} {:04o}", node.owner, node.group, node.mode);
  if (!node.isCharDevice) text += ", not a character device";
  if (node.mayOpen) return text + ", this user may open it";
  return fmt::format("{}, this user may not open it ({}): {}", text, node.whyNot, openAdvice(node.mode, node.gid));
}

std::string describePhoneVerdict(const SerialDevice& device) {
  if (!device.usb) return "no: a UART on the board carries no phone port's name";
  if (isPhonePort(device)) return "yes: its name is a phone port's";
  return fmt::format("no: neither its product \"{}\" nor its interface \"{}\" is a phone port's name",
                     device.usb->product, device.usb->interfaceName);
}

void printDevice(const SerialDevice& device) {
  fmt::print("  {}  {}\n", device.devicePath, describeIdentity(device));
  for (const std::string& name : device.byPath) fmt::print("    by-path  {}\n", name);
  for (const std::string& name : device.byId) fmt::print("    by-id    {}\n", name);
  fmt::print("    access   {}\n", describeAccess(device.node));
  fmt::print("    phone    {}\n", describePhoneVerdict(device));
  if (device.modemManagerIgnores) {
    fmt::print("    udev     {}\n", *device.modemManagerIgnores
                                        ? "ModemManager leaves it alone (ID_MM_DEVICE_IGNORE)"
                                        : "ModemManager may probe it: no udev rule set ID_MM_DEVICE_IGNORE");
  }
}

void printSerialDevices(const std::vector<SerialDevice>& devices, const SystemRoots& roots) {
  fmt::print("serial devices ({}/class/tty):\n", roots.sys);
  if (devices.empty()) fmt::print("  none: no USB serial port and no UART is there\n");
  for (const SerialDevice& device : devices) printDevice(device);
}

void printModemManager(const SystemRoots& roots) {
  if (!modemManagerRunning(roots.proc)) {
    fmt::print("ModemManager: not running\n");
    return;
  }
  fmt::print("ModemManager: running; it probes every new ttyACM port and breaks flashing: install the udev rule "
             "70-hxflash.rules with the phone's ids, or stop it (sudo systemctl stop ModemManager)\n");
}

// The device a ports directory entry leads to, among those found.
const SerialDevice* deviceOfEntry(const std::string& entry, const std::vector<SerialDevice>& devices) {
  std::error_code ec;
  const std::filesystem::path target = std::filesystem::canonical(entry, ec);
  if (ec) return nullptr;
  for (const SerialDevice& device : devices) {
    std::error_code deviceEc;
    if (std::filesystem::canonical(device.devicePath, deviceEc) == target && !deviceEc) return &device;
  }
  return nullptr;
}

std::string portState(uint32_t com, const std::string& entry, int& status) {
  const PortCheck check = checkPort(com, entry);
  if (check.refusal) {
    status = kExitPhoneFailed;
    return "unusable: " + *check.refusal;
  }
  if (!check.plugged) return "no device there (not plugged in)";
  hx::CComMngr probe;
  const bool opened = probe.OpenComPort(static_cast<unsigned char>(com));
  probe.Close();
  return opened ? "ready" : "in use";
}

// The COM port each device is mapped to now, by the device's /dev name.
using ComMapping = std::map<std::string, uint32_t>;

int printComPorts(const std::vector<SerialDevice>& devices, ComMapping& mapped) {
  const std::string dir = hx::portsDirectory();
  fmt::print("ports directory: {}\n", dir);
  std::error_code ec;
  if (!std::filesystem::exists(dir, ec)) {
    fmt::print("  no ports (the directory does not exist yet)\n");
    return kExitOk;
  }
  std::string why;
  if (!hx::portsDirectoryTrusted(dir, &why)) {
    fmt::print("  unusable: {}, so the module opens no port in it\n", why);
    return kExitPhoneFailed;
  }
  const std::vector<uint32_t> ports = comPortsIn(dir, ec);
  if (ec) {
    fmt::print("  (cannot read it: {})\n", ec.message());
    return kExitPhoneFailed;
  }
  if (ports.empty()) fmt::print("  no ports\n");
  int status = kExitOk;
  for (uint32_t com : ports) {
    const std::string entry = dir + "/com" + std::to_string(com);
    std::string target = std::filesystem::read_symlink(entry, ec).string();
    if (ec) target = "?";
    fmt::print("  COM{:<3} -> {:<20} {}\n", com, target, portState(com, entry, status));
    const SerialDevice* device = deviceOfEntry(entry, devices);
    if (!device) continue;
    mapped.emplace(device->devicePath, com);
    if (stableName(*device) != target)
      fmt::print("           this USB socket for good: --port {}={}\n", com, stableName(*device));
  }
  return status;
}

// --port arguments for every phone port seen: the COM port it is mapped to,
// else the next free one; by its by-path name, so that the COM port stays
// with the USB socket whatever ttyACM number the phone gets.
void printPortArguments(const std::vector<SerialDevice>& devices, const ComMapping& mapped) {
  std::vector<uint32_t> taken;
  for (const auto& [device, com] : mapped) taken.push_back(com);
  uint32_t next = kFirstStationComPort;
  std::string arguments;
  for (const SerialDevice& device : devices) {
    if (!isPhonePort(device)) continue;
    uint32_t com = 0;
    if (auto it = mapped.find(device.devicePath); it != mapped.end()) {
      com = it->second;
    } else {
      while (std::find(taken.begin(), taken.end(), next) != taken.end()) ++next;
      com = next++;
    }
    if (com > kLastServedComPort) break;
    arguments += fmt::format(" --port {}={}", com, stableName(device));
  }
  if (arguments.empty()) {
    fmt::print("no phone port seen: plug a powered-off phone into each USB socket of the station, then run "
               "hxflash ports again\n");
    return;
  }
  fmt::print("to flash the phone ports seen, one COM port per USB socket:\n ");
  fmt::print("{}\n", arguments);
}

int listPorts(const SystemRoots& roots) {
  const std::vector<SerialDevice> devices = findSerialDevices(roots);
  printSerialDevices(devices, roots);
  printModemManager(roots);
  fmt::print("\n");
  ComMapping mapped;
  const int status = printComPorts(devices, mapped);
  fmt::print("\n");
  printPortArguments(devices, mapped);
  return status;
}

}  // namespace

void registerPortsCommand(CLI::App& app, int& exitCode) {
  auto roots = std::make_shared<SystemRoots>();
  CLI::App* cmd = app.add_subcommand(
      "ports", "List the serial devices, whether each is a phone's port, and the COM ports of the ports directory");
  // Tests read trees of their own instead of the system's.
  cmd->add_option("--sysfs-root", roots->sys)->group("");
  cmd->add_option("--dev-root", roots->dev)->group("");
  cmd->add_option("--proc-root", roots->proc)->group("");
  cmd->add_option("--run-root", roots->run)->group("");
  cmd->footer("Exit status: 0 the module can use every port listed, 1 it cannot use the directory or a port.");
  cmd->callback([roots, &exitCode] {
    try {
      exitCode = listPorts(*roots);
    } catch (const std::exception& e) {
      fmt::print(stderr, "hxflash ports: {}\n", e.what());
      exitCode = kExitPhoneFailed;
    }
  });
}

}  // namespace hxflash
