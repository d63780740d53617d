#include "pty_floor.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>

#include "raw_pty.h"

namespace hxbench {
namespace {

constexpr int kTries = 5;
constexpr size_t kFarMoreThanAPty = 1 << 20;
// The pty hands written bytes to the reading end's buffer on its own time.
constexpr int kSettleMs = 20;

void setNonBlocking(int fd) { ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK); }

// One non-blocking write of far more than a pty holds: what it took.
uint64_t oneWrite(int fd, std::vector<uint8_t>& buffer) {
  const ssize_t n = ::write(fd, buffer.data(), buffer.size());
  return n > 0 ? static_cast<uint64_t>(n) : 0;
}

// One read, once what the other end wrote has settled: what it returned.
uint64_t oneRead(int fd, std::vector<uint8_t>& buffer) {
  ::poll(nullptr, 0, kSettleMs);
  const ssize_t n = ::read(fd, buffer.data(), buffer.size());
  return n > 0 ? static_cast<uint64_t>(n) : 0;
}

}  // namespace

PtyLimits measurePtyLimits() {
  PtyLimits limits;
  std::vector<uint8_t> buffer(kFarMoreThanAPty, 0x5A);
  for (int i = 0; i < kTries; ++i) {
    RawPty pty;
    if (!pty.open()) throw std::runtime_error("cannot open a pty pair to measure its limits");
    setNonBlocking(pty.master);
    setNonBlocking(pty.slave);
    limits.hostWrite = std::max(limits.hostWrite, oneWrite(pty.slave, buffer));
    oneWrite(pty.master, buffer);
    limits.hostRead = std::max(limits.hostRead, oneRead(pty.slave, buffer));
  }
  if (limits.hostWrite == 0 || limits.hostRead == 0) throw std::runtime_error("a pty pair moved no bytes");
  return limits;
}

uint64_t floorCalls(const std::vector<hxphone::LinkTurn>& turns, const PtyLimits& limits) {
  const auto calls = [](uint64_t bytes, uint64_t most) { return (bytes + most - 1) / most; };
  uint64_t total = 0;
  for (const hxphone::LinkTurn& turn : turns)
    total += calls(turn.hostBytes, limits.hostWrite) + calls(turn.phoneBytes, limits.hostRead);
  return total;
}

std::vector<hxphone::LinkTurn> turnsUpToLastAnswer(const std::vector<hxphone::LinkTurn>& turns) {
  const auto last = std::find_if(turns.rbegin(), turns.rend(), [](const auto& t) { return t.phoneBytes > 0; });
  return {turns.begin(), last.base()};
}

}  // namespace hxbench
