#include <fmt/format.h>

#include <filesystem>
#include <map>
#include <string>

#include "link/port_names.h"
#include "station/station_ports.h"
#include "system/port_attach.h"
#include "system/port_lock.h"
#include "system/port_refusals.h"

namespace hxflash {

struct StationPorts::Held {
  std::vector<PortAssignment> ports;
  std::map<uint32_t, std::string> paths;  // what each port's phone plugs in as
  std::vector<std::unique_ptr<PortLock>> locks;
  std::vector<std::unique_ptr<AttachedPort>> attached;
};

StationPorts::StationPorts() : m_held(std::make_unique<Held>()) {}
StationPorts::~StationPorts() { release(); }

Refusal StationPorts::claim(const std::vector<PortAssignment>& ports) {
  const std::string dir = hx::portsDirectory();
  if (Refusal r = checkPortsDirectory(dir)) return r;
  for (PortAssignment port : ports) {
    // The entry is a link: it must not depend on the directory it lies in.
    if (!port.device.empty()) port.device = std::filesystem::absolute(port.device).string();
    m_held->ports.push_back(port);
  }
  for (const PortAssignment& port : m_held->ports) {
    pid_t holder = 0;
    auto lock = PortLock::take(dir, port.comPort, &holder);
    if (!lock) {
      const std::string who = holder > 0 ? fmt::format(" (process {})", holder) : "";
      return fmt::format("COM{} is served by another hxflash run{}", port.comPort, who);
    }
    m_held->locks.push_back(std::move(lock));
  }
  for (const PortAssignment& port : m_held->ports) {
    // A device given with its port never replaces an entry that names another.
    const std::string entry = dir + "/com" + std::to_string(port.comPort);
    std::error_code ec;
    if (!port.device.empty() && std::filesystem::is_symlink(entry, ec)) {
      const std::string named = std::filesystem::read_symlink(entry, ec).string();
      if (!ec && named != port.device)
        return fmt::format("COM{}: its entry {} names {}, not {}: remove the entry first, or serve COM{} as it is "
                           "with -p {}",
                           port.comPort, entry, named, port.device, port.comPort, port.comPort);
    } else if (!port.device.empty() && std::filesystem::exists(entry, ec)) {
      return fmt::format("COM{}: {} exists and is no link to a device: remove it first", port.comPort, entry);
    }
  }
  for (const PortAssignment& port : m_held->ports) {
    const std::string path = port.device.empty() ? dir + "/com" + std::to_string(port.comPort) : port.device;
    const PortCheck check = checkPort(port.comPort, path);
    if (check.refusal) return check.refusal;
    m_held->paths[port.comPort] = path;
  }
  return std::nullopt;
}

void StationPorts::attachDevices() {
  for (const PortAssignment& port : m_held->ports) {
    if (!port.device.empty()) m_held->attached.push_back(std::make_unique<AttachedPort>(port.comPort, port.device));
  }
}

bool StationPorts::plugged(uint32_t comPort) const {
  const auto path = m_held->paths.find(comPort);
  return path != m_held->paths.end() && checkPort(comPort, path->second).plugged;
}

std::string StationPorts::whereItAppears(uint32_t comPort) const {
  const std::string entry = hx::portsDirectory() + "/com" + std::to_string(comPort);
  const auto path = m_held->paths.find(comPort);
  if (path == m_held->paths.end() || path->second == entry) return entry;
  return entry + " -> " + path->second;
}

void StationPorts::release() {
  m_held->attached.clear();
  for (auto& lock : m_held->locks) lock->release();
}

}  // namespace hxflash
