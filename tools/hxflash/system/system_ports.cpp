#include "system/system_ports.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>

#include "host/port_assignment.h"
#include "ports/port_enumeration.h"

namespace hxflash {
namespace {

// The number of "COM<n>"; 0 when the name is no such name.
uint32_t comNumberOf(const std::string& portName) {
  if (portName.size() < 4 || portName.size() > 7 || portName.compare(0, 3, "COM") != 0) return 0;
  if (!std::all_of(portName.begin() + 3, portName.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
    return 0;
  return static_cast<uint32_t>(std::stoul(portName.substr(3)));
}

bool takenByTheModule(const SystemPort& port) { return port.phoneName && isServedComPort(port.comNumber); }

std::string verdict(const SystemPort& port) {
  if (!port.phoneName) return "not a phone's port: the module takes no port of this name";
  if (!isServedComPort(port.comNumber))
    return fmt::format("a phone's port, but the module serves COM{}..COM{} only: {}", kFirstServedComPort,
                       kLastServedComPort, kComNumberAdvice);
  return fmt::format("a phone's port: flash it with --port {}", port.comNumber);
}

}  // namespace

std::vector<SystemPort> systemPorts(hx::PortSystem& system) {
  hx::SerInfoList list;
  hx::collectSerialPorts(system, list, false);
  std::vector<SystemPort> ports;
  for (size_t i = 0; i < list.GetSize(); ++i) {
    const hx::SSerInfo& record = list[i];
    ports.push_back(SystemPort{record.portName, comNumberOf(record.portName), record.friendlyName, record.isUsb != 0,
                               hx::isPhonePortName(record.friendlyName)});
  }
  std::sort(ports.begin(), ports.end(),
            [](const SystemPort& a, const SystemPort& b) { return a.comNumber < b.comNumber; });
  return ports;
}

std::string describeSystemPorts(const std::vector<SystemPort>& ports) {
  if (ports.empty()) {
    return "the system lists no serial port: the list is empty (no phone or other serial device is plugged in, "
           "or the system lists none, as Wine does)\n"
           "a phone's port is listed while the phone is plugged in, switched off: plug one in and run ports again\n";
  }
  std::string text = "serial ports the system lists:\n";
  for (const SystemPort& port : ports) {
    text += fmt::format("  {:<7} {:<44} {:<4} {}\n", port.portName.empty() ? "?" : port.portName,
                        "\"" + port.friendlyName + "\"", port.onUsb ? "USB" : "", verdict(port));
  }
  if (std::none_of(ports.begin(), ports.end(), takenByTheModule))
    text += "no port the module takes: plug in a phone, switched off, and run ports again\n";
  return text;
}

}  // namespace hxflash
