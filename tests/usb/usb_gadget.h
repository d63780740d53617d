#pragma once
// Phones on the real USB stack, for tests that run inside the USB test machine
// (scripts/usb-vm.sh): a configfs USB gadget with the ACM function is the
// phone's side (/dev/ttyGS<n>), dummy_hcd joins its device controller to a
// host controller in the same kernel, and the kernel's cdc-acm makes the
// station's side, /dev/ttyACM<n>. Binding the gadget to a controller plugs the
// phone in; unbinding it pulls the cable.
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace usbtest {

// How long a test waits for the kernel or udev: far beyond what a step takes
// in an emulated machine on a loaded host.
inline constexpr std::chrono::milliseconds kPatience{60000};

// The product string the module takes for a phone's port.
inline constexpr const char* kPhonePortProduct = "ZVE Mobile USB Serial Port";

// Why no gadget can be made here (not inside the USB test machine, not root),
// or nothing when one can.
std::string whyNoGadgets();

// The USB device controllers (/sys/class/udc), one per socket, in order.
std::vector<std::string> deviceControllers();

struct GadgetStrings {
  std::string product = kPhonePortProduct;
  std::string manufacturer = "Example Maker";
};

// One phone's USB side. Its ids are the placeholder F055:0001, its serial
// string its own name. Removed (unplugged first) when destroyed.
class UsbGadget {
 public:
  explicit UsbGadget(std::string name, GadgetStrings strings = {});
  ~UsbGadget();
  UsbGadget(const UsbGadget&) = delete;
  UsbGadget& operator=(const UsbGadget&) = delete;

  // Binds it to the device controller `controller` (a socket).
  void plug(const std::string& controller);
  // Unbinds it: the cable is pulled.
  void unplug();

  // The station's side: the /dev/ttyACM<n> the host made for this gadget,
  // once it can be opened; empty when none came within `limit`.
  std::string waitStationTty(std::chrono::milliseconds limit = kPatience) const;
  // The phone's side, /dev/ttyGS<port_num>.
  std::string phoneTty() const;
  // Waits until no tty of this gadget is left on the host side.
  bool waitGone(std::chrono::milliseconds limit = kPatience) const;

  const std::string& serial() const { return m_name; }

 private:
  std::string m_name;
  std::string m_dir;
  bool m_plugged = false;
};

// The phone's side of the link opened raw and non-blocking (the station's
// bytes are not echoed); closed when destroyed.
class PhoneEnd {
 public:
  explicit PhoneEnd(const std::string& tty);
  ~PhoneEnd();
  PhoneEnd(const PhoneEnd&) = delete;
  PhoneEnd& operator=(const PhoneEnd&) = delete;
  int fd() const { return m_fd; }
  // Reads what has come within `limit`, up to `n` bytes.
  std::string read(size_t n, std::chrono::milliseconds limit);
  bool write(const std::string& bytes);

 private:
  int m_fd = -1;
};

// Waits until udev has handled every event so far: devtmpfs makes a node
// root:root 0600, and only udev's rules give it its group and links.
void udevSettle();

// A program's exit status and what it printed (standard output and error).
struct ProgramOutput {
  int status = -1;
  std::string text;
};
ProgramOutput runProgram(const std::string& commandLine);

}  // namespace usbtest
