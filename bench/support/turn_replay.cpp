#include "turn_replay.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>

#include "raw_pty.h"

namespace hxbench {
namespace {

using Clock = std::chrono::steady_clock;
using hxphone::LinkTurn;

// A replay that has not ended by then has lost a byte: its peers are killed.
constexpr auto kReplayLimit = std::chrono::minutes(5);
constexpr auto kReapPoll = std::chrono::milliseconds(10);

bool writeAll(int fd, const uint8_t* bytes, uint64_t n) {
  uint64_t done = 0;
  while (done < n) {
    const ssize_t w = ::write(fd, bytes + done, static_cast<size_t>(n - done));
    if (w > 0) {
      done += static_cast<uint64_t>(w);
      continue;
    }
    if (w < 0 && errno == EINTR) continue;
    return false;
  }
  return true;
}

// Reads exactly n bytes; false on end of file, a hang-up or an error.
bool readExactly(int fd, uint8_t* into, uint64_t n) {
  uint64_t done = 0;
  while (done < n) {
    const ssize_t r = ::read(fd, into + done, static_cast<size_t>(n - done));
    if (r > 0) {
      done += static_cast<uint64_t>(r);
      continue;
    }
    if (r < 0 && errno == EINTR) continue;
    return false;
  }
  return true;
}

// Closing the master hangs the slave up and drops what the host has not read
// yet, so the phone peer keeps the master until the host has let go of the
// slave (a read then ends in a hang-up).
[[noreturn]] void phonePeer(int master, const std::vector<LinkTurn>& turns, uint8_t* buffer) {
  for (const LinkTurn& turn : turns)
    if (!readExactly(master, buffer, turn.hostBytes) || !writeAll(master, buffer, turn.phoneBytes)) _exit(1);
  const bool hostSentMore = readExactly(master, buffer, 1);
  _exit(hostSentMore ? 1 : 0);
}

// The host peer's time and CPU time, in nanoseconds.
struct HostPeerTimes {
  int64_t ns = 0;
  int64_t cpuNs = 0;
};

int64_t cpuNanoseconds() {
  timespec t{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::seconds(t.tv_sec)).count() + t.tv_nsec;
}

// Sends its times through `result`.
[[noreturn]] void hostPeer(int slave, const std::vector<LinkTurn>& turns, uint8_t* buffer, int result) {
  const Clock::time_point start = Clock::now();
  const int64_t cpuStart = cpuNanoseconds();
  for (const LinkTurn& turn : turns)
    if (!writeAll(slave, buffer, turn.hostBytes) || !readExactly(slave, buffer, turn.phoneBytes)) _exit(1);
  HostPeerTimes times;
  times.cpuNs = cpuNanoseconds() - cpuStart;
  times.ns = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count();
  _exit(writeAll(result, reinterpret_cast<const uint8_t*>(&times), sizeof times) ? 0 : 1);
}

// Whether the child exited with status 0. One still running at the deadline
// is killed.
bool exitedCleanly(pid_t child, Clock::time_point deadline) {
  int status = 0;
  for (;;) {
    const pid_t got = ::waitpid(child, &status, WNOHANG);
    if (got == child) return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (got < 0 && errno != EINTR) return false;
    if (Clock::now() >= deadline) {
      ::kill(child, SIGKILL);
      while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
      }
      return false;
    }
    std::this_thread::sleep_for(kReapPoll);
  }
}

uint64_t largestPiece(const std::vector<LinkTurn>& turns) {
  uint64_t largest = 1;
  for (const LinkTurn& turn : turns) largest = std::max({largest, turn.hostBytes, turn.phoneBytes});
  return largest;
}

}  // namespace

TurnReplay replayTurns(const std::vector<LinkTurn>& turns) {
  TurnReplay replay;
  RawPty pty;
  int result[2] = {-1, -1};
  if (!pty.open() || ::pipe2(result, O_CLOEXEC) != 0) return replay;
  // Allocated before the fork: the peers only read and write it.
  std::vector<uint8_t> buffer(static_cast<size_t>(largestPiece(turns)), 0x5A);

  const pid_t phone = ::fork();
  if (phone == 0) {
    ::close(pty.slave);
    ::close(result[0]);
    ::close(result[1]);
    phonePeer(pty.master, turns, buffer.data());
  }
  const pid_t host = phone < 0 ? -1 : ::fork();
  if (host == 0) {
    ::close(pty.master);
    ::close(result[0]);
    hostPeer(pty.slave, turns, buffer.data(), result[1]);
  }
  // Only the peers hold the pty now: one going away hangs the other up.
  pty.closeMaster();
  pty.closeSlave();
  ::close(result[1]);

  const Clock::time_point deadline = Clock::now() + kReplayLimit;
  const bool hostOk = host > 0 && exitedCleanly(host, deadline);
  const bool phoneOk = phone > 0 && exitedCleanly(phone, deadline);
  HostPeerTimes times;
  const bool timed = hostOk && readExactly(result[0], reinterpret_cast<uint8_t*>(&times), sizeof times);
  ::close(result[0]);
  replay.ok = hostOk && phoneOk && timed;
  replay.seconds = std::chrono::duration<double>(std::chrono::nanoseconds(times.ns)).count();
  replay.hostCpuSeconds = std::chrono::duration<double>(std::chrono::nanoseconds(times.cpuNs)).count();
  return replay;
}

}  // namespace hxbench
