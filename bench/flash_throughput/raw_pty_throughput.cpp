#include "raw_pty_throughput.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <vector>

#include "cpu_time.h"

namespace hxbench {
namespace {

// The phone's end of the baseline: reads until `bytes` arrived or the pty
// hung up; exits 0 only when every byte came.
[[noreturn]] void readAll(int master, uint64_t bytes) {
  std::vector<uint8_t> buffer(64 * 1024);
  uint64_t got = 0;
  while (got < bytes) {
    const ssize_t r = ::read(master, buffer.data(), buffer.size());
    if (r > 0) {
      got += static_cast<uint64_t>(r);
      continue;
    }
    if (r < 0 && errno == EINTR) continue;
    break;
  }
  _exit(got == bytes ? 0 : 1);
}

bool writeAll(int fd, const uint8_t* bytes, size_t n) {
  size_t done = 0;
  while (done < n) {
    const ssize_t w = ::write(fd, bytes + done, n - done);
    if (w > 0) {
      done += static_cast<size_t>(w);
      continue;
    }
    if (w < 0 && errno == EINTR) continue;
    return false;
  }
  return true;
}

int openRawSlave(int master) {
  char name[128];
  if (grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, name, sizeof name) != 0) return -1;
  const int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave < 0) return -1;
  termios tio{};
  tcgetattr(slave, &tio);
  cfmakeraw(&tio);
  tcsetattr(slave, TCSANOW, &tio);
  return slave;
}

}  // namespace

RawPtyRun measureRawPty(uint64_t bytes, size_t chunk) {
  RawPtyRun run;
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0) return run;
  const int slave = openRawSlave(master);
  if (slave < 0) {
    ::close(master);
    return run;
  }
  const pid_t reader = fork();
  if (reader == 0) {
    ::close(slave);
    readAll(master, bytes);
  }
  ::close(master);
  if (reader < 0) {
    ::close(slave);
    return run;
  }

  std::vector<uint8_t> block(chunk);
  for (size_t i = 0; i < chunk; ++i) block[i] = static_cast<uint8_t>(i * 131 + 7);
  const double cpuBefore = processCpuSeconds();
  const auto start = std::chrono::steady_clock::now();
  bool written = true;
  for (uint64_t sent = 0; sent < bytes && written; sent += chunk) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(chunk, bytes - sent));
    written = writeAll(slave, block.data(), n);
  }
  int status = 0;
  while (waitpid(reader, &status, 0) < 0 && errno == EINTR) {
  }
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run.writerCpuSeconds = processCpuSeconds() - cpuBefore;
  ::close(slave);
  run.ok = written && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return run;
}

}  // namespace hxbench
