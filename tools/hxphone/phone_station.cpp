#include "hxphone/phone_station.h"

#include <cstdio>
#include <fstream>
#include <thread>

#include "hxphone/pty_port.h"

namespace hxphone {

namespace {
// "%n" in an output path becomes the phone's number (1, 2, ...).
std::string numbered(std::string path, unsigned index) {
  if (auto at = path.find("%n"); at != std::string::npos) path.replace(at, 2, std::to_string(index));
  return path;
}
}  // namespace

PhoneStation::PhoneStation(StationOptions options) : m_options(std::move(options)) {
  if (m_options.portsDir.empty()) m_options.portsDir = portsDirectory();
  if (!m_options.turnsPath.empty()) m_options.phone.noteTurns = true;
}

void PhoneStation::stop() {
  m_stopping.store(true);
  std::lock_guard lock(m_mutex);
  if (m_current) m_current->stop();
}

bool PhoneStation::pause(std::chrono::milliseconds d) {
  auto until = std::chrono::steady_clock::now() + d;
  while (std::chrono::steady_clock::now() < until) {
    if (m_stopping.load()) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return !m_stopping.load();
}

void PhoneStation::saveOutputs(VirtualPhone& phone, unsigned index) {
  if (!m_options.dumpPath.empty()) phone.nand().writeDump(numbered(m_options.dumpPath, index));
  if (!m_options.recordPath.empty()) {
    std::ofstream out(numbered(m_options.recordPath, index), std::ios::trunc);
    out << phone.record().dump(2) << "\n";
  }
  if (!m_options.turnsPath.empty()) {
    const std::string path = numbered(m_options.turnsPath, index);
    if (!phone.turns().writeFile(path)) std::fprintf(stderr, "hxphone: cannot write the turns to %s\n", path.c_str());
  }
}

std::unique_ptr<PluggedPort> PhoneStation::plugIn(unsigned index) {
  if (m_options.plugIn) return m_options.plugIn(index, m_stopping);
  return std::make_unique<PtyPort>(m_options.portsDir, m_options.port, m_options.controllingTerminal);
}

// "plugged <dir>/com<n> -> <host tty>", and where, for a USB socket.
void PhoneStation::announce(const std::string& what, const PluggedPort& port) {
  if (!m_options.announce) return;
  const std::string socket = port.socket();
  m_options.announce(what + " " + port.linkPath() + " -> " + port.hostPath() + (socket.empty() ? "" : " (" + socket + ")"));
}

Outcome PhoneStation::runOnePhone(unsigned index) {
  NandModel nand = m_options.initialNand ? m_options.initialNand() : freshNand(m_options.phone);
  VirtualPhone phone(m_options.phone, std::move(nand));
  std::unique_ptr<PluggedPort> port = plugIn(index);
  if (!port) return Outcome::Stopped;
  announce("plugged", *port);
  {
    std::lock_guard lock(m_mutex);
    m_current = &phone;
    if (m_stopping.load()) phone.stop();
  }
  phone.start(port->phoneFd());
  Outcome outcome = phone.wait();
  {
    std::lock_guard lock(m_mutex);
    m_current = nullptr;
  }
  if (outcome == Outcome::Reset) pause(m_options.resetDelay);
  if (outcome == Outcome::Failed) pause(m_options.refusalLinger);
  std::string link = port->linkPath();
  port->unplug();
  if (m_options.announce) m_options.announce(std::string("unplugged ") + link + " (" + outcomeName(outcome) + ")");
  saveOutputs(phone, index);
  return outcome;
}

void PhoneStation::rebootIntoFirmware(unsigned index) {
  if (!pause(m_options.replugDelay)) return;
  // The new firmware enumerates briefly and does not speak the BootROM protocol.
  std::unique_ptr<PluggedPort> port = plugIn(index);
  if (!port) return;
  announce("rebooted", *port);
  pause(m_options.rebootVisible);
  std::string link = port->linkPath();
  port->unplug();
  if (m_options.announce) m_options.announce("unplugged " + link + " (rebooted)");
}

Outcome PhoneStation::run() {
  Outcome outcome = Outcome::Stopped;
  if (!pause(m_options.plugDelay)) return outcome;
  for (unsigned index = 1;; ++index) {
    if (m_stopping.load()) return Outcome::Stopped;
    outcome = runOnePhone(index);
    if (outcome != Outcome::Reset) return outcome;
    switch (m_options.afterReset) {
      case AfterReset::Gone: return outcome;
      case AfterReset::Reboot: rebootIntoFirmware(index); return outcome;
      case AfterReset::Fresh:
        if (m_options.phones != 0 && index >= m_options.phones) return outcome;
        if (!pause(m_options.replugDelay)) return outcome;
        break;
    }
  }
}

}  // namespace hxphone
