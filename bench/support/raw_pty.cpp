#include "raw_pty.h"

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

namespace hxbench {

RawPty::RawPty() {
  master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  char name[128];
  if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0 || ::ptsname_r(master, name, sizeof name) != 0)
    return;
  slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  termios tio{};
  if (slave < 0 || ::tcgetattr(slave, &tio) != 0) return;
  ::cfmakeraw(&tio);
  ::tcsetattr(slave, TCSANOW, &tio);
}

RawPty::~RawPty() {
  closeMaster();
  closeSlave();
}

void RawPty::closeMaster() {
  if (master >= 0) ::close(master);
  master = -1;
}

void RawPty::closeSlave() {
  if (slave >= 0) ::close(slave);
  slave = -1;
}

}  // namespace hxbench
