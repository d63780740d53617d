#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <fmt/format.h>

#include <string>

#include "station/station_ports.h"

namespace hxflash {

struct StationPorts::Held {
  std::vector<HANDLE> mutexes;  // "Local\hxflash-COM<n>", one per port this run serves
};

StationPorts::StationPorts() : m_held(std::make_unique<Held>()) {}
StationPorts::~StationPorts() { release(); }

Refusal StationPorts::claim(const std::vector<PortAssignment>& ports) {
  for (const PortAssignment& port : ports) {
    if (!port.device.empty())
      return fmt::format("COM{}={}: Windows names its COM ports itself; give the port's number alone",
                         port.comPort, port.device);
  }
  // The system frees a process's mutexes when it ends, however it ends.
  for (const PortAssignment& port : ports) {
    const std::string name = fmt::format("Local\\hxflash-COM{}", port.comPort);
    HANDLE mutex = CreateMutexA(nullptr, FALSE, name.c_str());
    if (!mutex) return fmt::format("cannot hold COM{} for this run (error {})", port.comPort, GetLastError());
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
      CloseHandle(mutex);
      return fmt::format("COM{} is served by another hxflash run", port.comPort);
    }
    m_held->mutexes.push_back(mutex);
  }
  return std::nullopt;
}

void StationPorts::attachDevices() {}

bool StationPorts::plugged(uint32_t) const { return false; }

std::string StationPorts::whereItAppears(uint32_t comPort) const { return "\\\\.\\COM" + std::to_string(comPort); }

void StationPorts::release() {
  for (HANDLE mutex : m_held->mutexes) CloseHandle(mutex);
  m_held->mutexes.clear();
}

}  // namespace hxflash
