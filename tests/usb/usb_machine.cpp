#include "usb_machine.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>

namespace hxtest {

namespace fs = std::filesystem;

bool inUsbMachine(std::string* why) {
  std::error_code ec;
  if (::geteuid() != 0) {
    *why = "not root: the phones' USB gadgets need root";
  } else if (!fs::exists("/sys/class/udc/" + usbSocket(7), ec)) {
    *why = "no dummy_hcd with 8 sockets here (the USB tests run inside scripts/usb-vm.sh)";
  } else if (!fs::is_directory("/sys/kernel/config/usb_gadget", ec)) {
    *why = "no configfs usb_gadget folder (libcomposite not loaded)";
  } else {
    return true;
  }
  return false;
}

std::string usbSocket(unsigned n) { return "dummy_udc." + std::to_string(n); }

std::string usbSocketByPath(unsigned n) {
  return "/dev/serial/by-path/platform-dummy_hcd." + std::to_string(n) + "-usb-0:1:1.0";
}

std::string entryTarget(const std::string& entry) {
  std::error_code ec;
  const fs::path target = fs::read_symlink(entry, ec);
  return ec ? std::string() : target.string();
}

std::string logsOf(const std::string& dir) {
  std::stringstream text;
  std::error_code ec;
  for (const auto& entry : fs::recursive_directory_iterator(dir, ec)) {
    if (!entry.is_regular_file() || entry.path().extension() != ".log") continue;
    std::ifstream in(entry.path());
    text << "== " << entry.path().string() << "\n" << in.rdbuf() << "\n";
  }
  return text.str();
}

bool udevRunning(std::string* why) {
  std::error_code ec;
  if (fs::exists("/run/udev/control", ec)) return true;
  *why = "systemd-udevd is not running here (no /run/udev/control): no by-path names, no rules";
  return false;
}

std::vector<std::string> pluggedTtys(const std::string& phoneOut) {
  static const std::regex plugged(R"(^plugged \S+ -> (\S+))");
  std::vector<std::string> ttys;
  std::istringstream in(phoneOut);
  for (std::string line; std::getline(in, line);)
    if (std::smatch m; std::regex_search(line, m, plugged)) ttys.push_back(m[1]);
  return ttys;
}

// The stable name appears a moment after the phone's entry: udev makes it.
HeldTty::HeldTty(const std::string& path) {
  for (int attempt = 0; attempt < 500 && m_fd < 0; ++attempt) {
    m_fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0) ::usleep(20000);
  }
  std::error_code ec;
  if (m_fd >= 0) m_device = fs::canonical(path, ec).string();
}

HeldTty::~HeldTty() {
  if (m_fd >= 0) ::close(m_fd);
}

UserFolder::UserFolder(std::string path, uid_t uid) : m_path(std::move(path)) {
  if (::mkdir(m_path.c_str(), 0700) != 0 || ::chown(m_path.c_str(), uid, uid) != 0)
    throw std::runtime_error("cannot make " + m_path + " for user " + std::to_string(uid));
}

UserFolder::~UserFolder() {
  std::error_code ec;
  fs::remove_all(m_path, ec);
}

}  // namespace hxtest
