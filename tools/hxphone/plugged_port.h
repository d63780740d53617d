#pragma once
// One phone plugged in: the descriptor the phone speaks on, the ports
// directory's `com<n>` entry and the tty it names for the host. Destroying
// it, or unplug(), takes the phone away: the host holding the tty reads a
// hang-up. Made by a pseudo-terminal (PtyPort) or a USB gadget (UsbPort).
#include <atomic>
#include <functional>
#include <memory>
#include <string>

namespace hxphone {

class PluggedPort {
 public:
  virtual ~PluggedPort() = default;
  // The phone's end of the link.
  virtual int phoneFd() const = 0;
  // `<ports dir>/com<n>`.
  virtual const std::string& linkPath() const = 0;
  // The tty the host opens (/dev/pts/K, /dev/ttyACM<n>).
  virtual const std::string& hostPath() const = 0;
  virtual void unplug() = 0;
  // Where the phone is plugged in, for the "plugged" line ("" for a pty).
  virtual std::string socket() const { return {}; }
};

// Plugs phone number `index` (1, 2, ...) in; nullptr when `stopping` was
// raised before the port was there; throws when it cannot.
using PlugIn = std::function<std::unique_ptr<PluggedPort>(unsigned index, const std::atomic<bool>& stopping)>;

}  // namespace hxphone
