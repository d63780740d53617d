#include "hxphone/pty_port.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "hxphone/raw_tty.h"

namespace hxphone {

namespace {

std::runtime_error systemError(const std::string& what) {
  return std::runtime_error(what + ": " + std::strerror(errno));
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

PtyPort::PtyPort(const std::string& portsDir, unsigned port, bool controllingTerminal) {
  m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (m_master < 0) throw systemError("posix_openpt");
  try {
    if (::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0) throw systemError("grantpt/unlockpt");
    char name[128];
    if (::ptsname_r(m_master, name, sizeof name) != 0) throw systemError("ptsname_r");
    m_slavePath = name;
    setUpSlave(m_slavePath, controllingTerminal);
    m_linkPath = publishPortLink(portsDir, port, m_slavePath);
  } catch (...) {
    ::close(m_master);
    m_master = -1;
    throw;
  }
}

PtyPort::~PtyPort() { unplug(); }

void PtyPort::unplug() {
  withdrawPortLink(m_linkPath, m_slavePath);
  m_linkPath.clear();
  if (m_master >= 0) {
    ::close(m_master);
    m_master = -1;
  }
}

}  // namespace hxphone
