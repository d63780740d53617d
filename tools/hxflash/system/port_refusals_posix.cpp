// The refusals about a port's place on a POSIX station: the ports directory
// and the device each COM port's entry names.
#include <fmt/format.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "link/port_names.h"
#include "system/port_refusals.h"
#include "system/tty_drivers_linux.h"
#include "system/user_names.h"

namespace hxflash {
namespace {

std::string kindOf(mode_t mode) {
  if (S_ISREG(mode)) return "a regular file";
  if (S_ISDIR(mode)) return "a directory";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISFIFO(mode)) return "a pipe";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a device";
}

}  // namespace

std::string openAdvice(mode_t mode, gid_t gid) {
  const std::string user = userName();
  const bool groupMayOpen = (mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
  if (groupMayOpen && gid != 0) {
    const std::string group = groupName(gid);
    return fmt::format("add {0} to the group {1} (sudo usermod -aG {1} {0}, then log in again)", user, group);
  }
  return fmt::format("give the device to a group of {} with a udev rule such as "
                     "SUBSYSTEM==\"tty\", ATTRS{{idVendor}}==\"<vendor id>\", GROUP=\"dialout\", MODE=\"0660\" "
                     "(the installed 70-hxflash.rules, once it holds the phone's ids)",
                     user);
}

Refusal checkPortsDirectory(const std::string& dir) {
  std::error_code ec;
  if (!std::filesystem::exists(dir, ec) && std::filesystem::create_directories(dir, ec)) ::chmod(dir.c_str(), 0700);
  if (ec) return fmt::format("cannot make the ports directory {}: {}", dir, ec.message());
  std::string why;
  if (hx::portsDirectoryTrusted(dir, &why)) return std::nullopt;
  return fmt::format("{}, so the module opens no port in it: use a directory of {} that only it can write "
                     "(chmod 700, or name another one in HXFLASH_PORTS_DIR)",
                     why, userName());
}

PortCheck checkPort(uint32_t comPort, const std::string& path) {
  PortCheck check;
  struct stat link {}, st {};
  if (::lstat(path.c_str(), &link) != 0 || ::stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return check;  // not plugged in yet
    check.refusal = fmt::format("COM{}: cannot look at {}: {}", comPort, path, std::strerror(errno));
    return check;
  }
  if (!S_ISCHR(st.st_mode)) {
    std::error_code ec;
    const std::string target = S_ISLNK(link.st_mode) ? std::filesystem::read_symlink(path, ec).string() : path;
    check.refusal = fmt::format("COM{}: {} is {}, not a serial port's character device", comPort, target,
                                kindOf(st.st_mode));
    return check;
  }
  // A character device that no tty driver of the kernel serves is no serial
  // port (/dev/null, say): waiting for it would wait for ever.
  if (isTerminalDevice(major(st.st_rdev), minor(st.st_rdev)) == false) {
    std::error_code ec;
    const std::filesystem::path device = std::filesystem::canonical(path, ec);
    check.refusal = fmt::format("COM{}: {} is a character device but no serial port (device {}:{} is served by "
                                "none of the kernel's tty drivers)",
                                comPort, ec ? path : device.string(), major(st.st_rdev), minor(st.st_rdev));
    return check;
  }
  // Asked without opening it: opening a real tty raises its modem lines.
  if (::access(path.c_str(), R_OK | W_OK) != 0) {
    if (errno == EACCES || errno == EPERM) {
      std::error_code ec;
      const std::filesystem::path device = std::filesystem::canonical(path, ec);
      check.refusal = fmt::format("COM{}: {} may not open {} (owner {}, group {}, mode {:04o}): {}", comPort,
                                  userName(), ec ? path : device.string(), ownerName(st.st_uid),
                                  groupName(st.st_gid), st.st_mode & 07777, openAdvice(st.st_mode, st.st_gid));
    } else {
      check.refusal = fmt::format("COM{}: {}: {}", comPort, path, std::strerror(errno));
    }
    return check;
  }
  check.plugged = true;
  return check;
}

}  // namespace hxflash
