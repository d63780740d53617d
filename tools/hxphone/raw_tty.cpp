#include "hxphone/raw_tty.h"

#include <termios.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

namespace hxphone {

namespace {
std::runtime_error systemError(const std::string& what) {
  return std::runtime_error(what + ": " + std::strerror(errno));
}
}  // namespace

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

}  // namespace hxphone
