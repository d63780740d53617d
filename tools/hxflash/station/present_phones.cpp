#include "station/present_phones.h"

#include <algorithm>

namespace hxflash {

void PresentPhones::event(uint32_t comPort, const HostEvent& e, FlashReport&) {
  if (e.code == kNotifyConnected) remove(comPort);
}

void PresentPhones::moduleLine(unsigned comPort, const std::string& line, FlashReport& report) {
  if (line.ends_with(kStillAttachedLine) && add(comPort)) report.portNotice(comPort, kPresentNotice);
  if (line.ends_with(kGoneLine) && remove(comPort)) waitsAgain(comPort, report);
}

// Said when a session begins to wait for its next phone. That notice stands
// until the port goes.
void PresentPhones::waiting(uint32_t comPort, int, FlashReport& report) {
  if (!kStationSeesPresence || !m_station.plugged(comPort)) {
    waitsAgain(comPort, report);
    return;
  }
  if (add(comPort)) report.portNotice(comPort, kPresentNotice);
}

void PresentPhones::lookAgain(FlashReport& report) {
  std::vector<uint32_t> gone = ports();
  std::erase_if(gone, [&](uint32_t com) { return m_station.plugged(com); });
  for (uint32_t com : gone)
    if (remove(com)) waitsAgain(com, report);
}

std::vector<uint32_t> PresentPhones::stillThere() const {
  std::vector<uint32_t> there = ports();
  if (kStationSeesPresence) std::erase_if(there, [&](uint32_t com) { return !m_station.plugged(com); });
  return there;
}

bool PresentPhones::add(uint32_t comPort) {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_ports.insert(comPort).second;
}

bool PresentPhones::remove(uint32_t comPort) {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_ports.erase(comPort) != 0;
}

std::vector<uint32_t> PresentPhones::ports() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return {m_ports.begin(), m_ports.end()};
}

// The notice of a port whose session waits for its phone; it names where the
// phone appears, so that a mistyped entry or device shows.
void PresentPhones::waitsAgain(uint32_t comPort, FlashReport& report) const {
  report.portNotice(comPort, "waiting for the phone to be plugged in (as " + m_station.whereItAppears(comPort) + ")");
}

}  // namespace hxflash
