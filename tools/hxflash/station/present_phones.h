#pragma once
// The phones already plugged in when their port's session begins to wait: a
// phone plugged in while the session was not waiting (the module loads the
// package first, a phone swapped in during the reset countdown) is one still
// attached from earlier, and is not flashed until it comes anew. Its port
// shows a notice that says so until the phone goes, then waits again.
//
// Where the station can look at its ports (kStationSeesPresence) it asks
// them; everywhere the module's own lines say when its wait finds a phone
// still attached and when it has gone (on Windows the only way to tell
// without opening the port).
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "station/station_ports.h"
#include "station/station_run.h"

namespace hxflash {

inline constexpr const char* kPresentNotice =
    "a phone is plugged in already: unplug it, then plug it in again: a phone is flashed when its port appears";

class PresentPhones : public StationHooks {
 public:
  explicit PresentPhones(const StationPorts& station) : m_station(station) {}

  void event(uint32_t comPort, const HostEvent& e, FlashReport& report) override;
  void moduleLine(unsigned comPort, const std::string& line, FlashReport& report) override;
  void waiting(uint32_t comPort, int phone, FlashReport& report) override;

  // Looks at the ports again: each whose phone has gone waits again.
  void lookAgain(FlashReport& report);
  // The ports whose phone is there still (at the end of the run: never flashed).
  std::vector<uint32_t> stillThere() const;

 private:
  bool add(uint32_t comPort);
  bool remove(uint32_t comPort);
  std::vector<uint32_t> ports() const;
  void waitsAgain(uint32_t comPort, FlashReport& report) const;

  const StationPorts& m_station;
  mutable std::mutex m_mutex;
  std::set<uint32_t> m_ports;
};

}  // namespace hxflash
