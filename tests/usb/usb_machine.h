#pragma once
// What the flashing tests on the real USB stack need from the machine they
// run in (the USB test machine of scripts/usb-vm.sh): dummy_hcd's sockets,
// configfs for the phones' gadgets, and root to make them.
#include <string>
#include <sys/types.h>
#include <vector>

namespace hxtest {

// An ordinary user (nobody's ids), for runs as a station user who is not root.
inline constexpr uid_t kOrdinaryUid = 65534;

// True inside a machine where phones can plug in over USB; else why not.
bool inUsbMachine(std::string* why);
// The n-th socket: dummy_hcd's USB device controller dummy_udc.<n>, whose
// host side is the platform device dummy_hcd.<n>.
std::string usbSocket(unsigned n);
// The stable name udev gives the tty of the phone in that socket.
std::string usbSocketByPath(unsigned n);
// Where a ports directory entry (a symlink) points; "" when it is none.
std::string entryTarget(const std::string& entry);
// Every log file a flash run under `dir` wrote (module.log, com<n>.log), as one text.
std::string logsOf(const std::string& dir);

// True while systemd-udevd runs (it makes the by-path names and applies the
// rules); else why not.
bool udevRunning(std::string* why);
// The ttys an hxphone run announced, in order ("plugged <entry> -> <tty> ...").
std::vector<std::string> pluggedTtys(const std::string& phoneOut);

// A tty held open as a program holds it that never closes it.
class HeldTty {
 public:
  explicit HeldTty(const std::string& path);
  ~HeldTty();
  HeldTty(const HeldTty&) = delete;
  HeldTty& operator=(const HeldTty&) = delete;
  bool isOpen() const { return m_fd >= 0; }
  // The device it opened (/dev/ttyACM<n>).
  const std::string& device() const { return m_device; }

 private:
  int m_fd = -1;
  std::string m_device;
};

// A folder owned by `uid`, removed with what it holds.
class UserFolder {
 public:
  UserFolder(std::string path, uid_t uid);
  ~UserFolder();
  UserFolder(const UserFolder&) = delete;
  UserFolder& operator=(const UserFolder&) = delete;
  const std::string& path() const { return m_path; }

 private:
  std::string m_path;
};

}  // namespace hxtest
