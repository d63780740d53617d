#include "hxphone/pty_port.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace hxphone {

namespace {

std::runtime_error systemError(const std::string& what) {
  return std::runtime_error(what + ": " + std::strerror(errno));
}

// Raw 8N1 with the modem lines ignored: no echo, no line editing, no
// translation in either direction.
void makeRaw(int fd) {
  termios t{};
  if (::tcgetattr(fd, &t) != 0) throw systemError("tcgetattr");
  ::cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  t.c_cflag &= ~(CSTOPB | PARENB);
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  if (::tcsetattr(fd, TCSANOW, &t) != 0) throw systemError("tcsetattr");
}

void setUpSlave(const std::string& path, bool controllingTerminal) {
  int slave = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave < 0) throw systemError("open " + path);
  try {
    makeRaw(slave);
  } catch (...) {
    ::close(slave);
    throw;
  }
  // Failing to take the terminal is not fatal: the phone still works, only a
  // host that takes any terminal it opens would get the hang-up signals.
  if (controllingTerminal) (void)::ioctl(slave, TIOCSCTTY, 0);
  ::close(slave);
}

}  // namespace

std::string portsDirectory() {
  if (const char* dir = std::getenv("HXFLASH_PORTS_DIR"); dir && *dir) return dir;
  if (const char* run = std::getenv("XDG_RUNTIME_DIR"); run && *run) return std::string(run) + "/hxflash/ports";
  return "/tmp/hxflash-" + std::to_string(::getuid()) + "/ports";
}

void ensurePortsDirectory(const std::string& path) {
  std::filesystem::path dir(path);
  if (dir.has_parent_path() && !std::filesystem::exists(dir.parent_path())) {
    std::error_code ec;
    std::filesystem::create_directories(dir.parent_path(), ec);
    if (ec) throw std::runtime_error("cannot create " + dir.parent_path().string() + ": " + ec.message());
    ::chmod(dir.parent_path().c_str(), 0700);
  }
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) throw systemError("mkdir " + path);
  struct stat st{};
  if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) throw std::runtime_error(path + " is not a directory");
}

PtyPort::PtyPort(const std::string& portsDir, unsigned port, bool controllingTerminal) {
  m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (m_master < 0) throw systemError("posix_openpt");
  try {
    if (::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0) throw systemError("grantpt/unlockpt");
    char name[128];
    if (::ptsname_r(m_master, name, sizeof name) != 0) throw systemError("ptsname_r");
    m_slavePath = name;
    setUpSlave(m_slavePath, controllingTerminal);
    ensurePortsDirectory(portsDir);
    m_linkPath = portsDir + "/com" + std::to_string(port);
    // Publish atomically: a host never sees a half-made entry.
    std::string temp = m_linkPath + ".plugging." + std::to_string(::getpid());
    ::unlink(temp.c_str());
    if (::symlink(m_slavePath.c_str(), temp.c_str()) != 0) throw systemError("symlink " + temp);
    if (::rename(temp.c_str(), m_linkPath.c_str()) != 0) {
      ::unlink(temp.c_str());
      throw systemError("rename to " + m_linkPath);
    }
  } catch (...) {
    ::close(m_master);
    m_master = -1;
    throw;
  }
}

PtyPort::~PtyPort() { unplug(); }

void PtyPort::unplug() {
  if (!m_linkPath.empty()) {
    char target[256];
    ssize_t n = ::readlink(m_linkPath.c_str(), target, sizeof target - 1);
    if (n > 0) {
      target[n] = '\0';
      if (m_slavePath == target) ::unlink(m_linkPath.c_str());
    }
    m_linkPath.clear();
  }
  if (m_master >= 0) {
    ::close(m_master);
    m_master = -1;
  }
}

}  // namespace hxphone
