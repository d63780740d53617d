#pragma once
// A USB socket of the phone station: one configfs gadget (the phone's USB
// side) bound to one USB device controller, the host's cdc-acm tty
// published as `com<n>`. Every phone plugged into the socket binds the same
// gadget to the same controller, so the host finds it on the same USB path
// (/dev/serial/by-path/...) whatever ttyACM number it gets; each phone has a
// serial string of its own.
//
// Plugging in: the phone's /dev/ttyGS<n> is opened raw before the bind (no
// byte the host sends after enumerating is lost), the gadget is bound, and
// once the host's tty is there its `com<n>` entry is published. Unplugging:
// the entry is withdrawn, the gadget unbound (the host's tty hangs up and
// goes), and the phone's descriptor closed: after an unbind it only gives
// EIO, so the next phone opens the tty afresh. Unbinding first also keeps
// close() from waiting for the host to take what the phone had queued.
#include <atomic>
#include <chrono>
#include <memory>
#include <string>

#include "hxphone/plugged_port.h"
#include "hxphone/usb_gadget.h"

namespace hxphone {

struct UsbSocketOptions {
  unsigned port = 41;                                      // com<port>; the gadget is hxphone-com<port>
  std::string portsDir;                                    // empty: portsDirectory()
  std::string udc;                                         // empty: the first free controller
  std::string configfsRoot = "/sys/kernel/config/usb_gadget";
  std::string sysRoot = "/sys";
  std::chrono::milliseconds enumerationLimit{20000};       // bind to the host's tty
};

class UsbSocket {
 public:
  // Makes the gadget; throws, saying why, when the kernel refuses.
  explicit UsbSocket(UsbSocketOptions options);
  UsbSocket(const UsbSocket&) = delete;
  UsbSocket& operator=(const UsbSocket&) = delete;

  // Plugs phone `index` in (see PlugIn).
  std::unique_ptr<PluggedPort> plugIn(unsigned index, const std::atomic<bool>& stopping);
  // The controller the phones plug into ("" before the first one).
  const std::string& controller() const { return m_udc; }

 private:
  void bind();
  std::string awaitHostTty(const std::string& serial, const std::atomic<bool>& stopping);

  UsbSocketOptions m_options;
  UsbGadget m_gadget;
  std::string m_udc;
};

}  // namespace hxphone
