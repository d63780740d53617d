#pragma once
// The COM ports one flash run serves on this station: claimed for the run
// alone before any session starts, and given up when it ends.
//   POSIX: the ports directory must be one the module trusts; each port's
//   lock file is taken; each port's entry (or the device it will name) is
//   checked; devices named on the command line are attached as entries.
//   Windows: the system names its COM ports; each port is held by a named
//   mutex of this run.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/port_assignment.h"
#include "system/refusal.h"

namespace hxflash {

// Whether the station can tell that a phone's port is there without the
// module. On POSIX it looks at the port's entry. On Windows only the session
// may open the port (it opens it with no sharing: an opener would compete
// with it) and the system's list of ports is no sure sign (Wine lists none):
// there the module's own lines tell when its wait finds a phone still
// attached and when that phone has gone.
#if defined(_WIN32)
inline constexpr bool kStationSeesPresence = false;
#else
inline constexpr bool kStationSeesPresence = true;
#endif

class StationPorts {
 public:
  StationPorts();
  ~StationPorts();
  StationPorts(const StationPorts&) = delete;
  StationPorts& operator=(const StationPorts&) = delete;

  // Claims `ports` for this run; the sentence that says why a port cannot be
  // served, or nothing.
  Refusal claim(const std::vector<PortAssignment>& ports);
  // Attaches the devices named with their ports (once nothing is refused).
  void attachDevices();
  // A phone's port is there already: one plugged in before its session was
  // ready, which must go and come back to be flashed. Always false where the
  // station cannot see it (kStationSeesPresence).
  bool plugged(uint32_t comPort) const;
  // Where the port's phone appears, for notices: its entry and what the entry
  // names ("/run/.../com41 -> /dev/ttyACM0"), or the system's name of the port.
  std::string whereItAppears(uint32_t comPort) const;
  // Gives up every port; also when the run must end at once.
  void release();

 private:
  struct Held;
  std::unique_ptr<Held> m_held;
};

}  // namespace hxflash
