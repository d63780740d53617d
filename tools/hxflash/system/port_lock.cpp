#include "system/port_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace hxflash {
namespace {

pid_t pidIn(int fd) {
  char text[32] = {};
  const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
  if (n <= 0) return 0;
  char* end = nullptr;
  const long pid = std::strtol(text, &end, 10);
  return pid > 0 && end != text ? static_cast<pid_t>(pid) : 0;
}

// The descriptor still names the file at `path`: no run removed it between
// our open and our lock.
bool stillAt(int fd, const std::string& path) {
  struct stat opened {}, named {};
  return ::fstat(fd, &opened) == 0 && ::stat(path.c_str(), &named) == 0 && opened.st_dev == named.st_dev &&
         opened.st_ino == named.st_ino;
}

}  // namespace

std::unique_ptr<PortLock> PortLock::take(const std::string& portsDir, uint32_t comPort, pid_t* holder) {
  const std::string path = portsDir + "/com" + std::to_string(comPort) + ".lock";
  // A run that ends removes its file while it still holds the lock; one that
  // opened the old file meanwhile finds it gone and tries again.
  for (int attempt = 0; attempt < 100; ++attempt) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) throw std::runtime_error("cannot make the lock file " + path + ": " + std::strerror(errno));
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int error = errno;
      if (holder) *holder = pidIn(fd);
      ::close(fd);
      if (error == EWOULDBLOCK) return nullptr;
      throw std::runtime_error("cannot lock " + path + ": " + std::strerror(error));
    }
    if (!stillAt(fd, path)) {
      ::close(fd);
      continue;
    }
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size())) {
      const int error = errno;
      ::unlink(path.c_str());
      ::close(fd);
      throw std::runtime_error("cannot write the lock file " + path + ": " + std::strerror(error));
    }
    return std::unique_ptr<PortLock>(new PortLock(path, fd));
  }
  throw std::runtime_error("cannot take the lock file " + path + ": it keeps being replaced");
}

void PortLock::release() {
  if (m_fd < 0) return;
  ::unlink(m_path.c_str());
  ::close(m_fd);
  m_fd = -1;
}

}  // namespace hxflash
