#pragma once
// One flash run per COM port: a run holds the lock file com<n>.lock in the
// ports directory, with its process id inside, for as long as it lives.
#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>

namespace hxflash {

class PortLock {
 public:
  // The lock of COM `comPort` in `portsDir`, or nothing when another run
  // holds it; then *holder is that run's process id (0 when it has not
  // written it yet). Throws std::runtime_error when the file cannot be made.
  static std::unique_ptr<PortLock> take(const std::string& portsDir, uint32_t comPort, pid_t* holder);

  ~PortLock() { release(); }
  PortLock(const PortLock&) = delete;
  PortLock& operator=(const PortLock&) = delete;

  // Removes the file and gives up the lock (also when the run must end at once).
  void release();

 private:
  PortLock(std::string path, int fd) : m_path(std::move(path)), m_fd(fd) {}

  std::string m_path;
  int m_fd = -1;
};

}  // namespace hxflash
