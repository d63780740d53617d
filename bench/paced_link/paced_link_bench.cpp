// Pushes a raw transfer of several MiB through hxphone's paced link, host to
// phone and phone to host, over a pseudo-terminal, and compares the rate each
// way reaches with the rate the link is configured for.
//
// The host side is a thread that writes (or reads) as fast as the pty lets
// it; the phone side is a session's link paced as `--link` says (default the
// USB full-speed model, usb-fs). Each transfer is timed from its first byte
// handed to the link until the far end holds the last.
//
// Prints the figures, and as its last three lines
//   usb-fs-rate-ratio-in X    (host to phone: bytes per second reached / configured)
//   usb-fs-rate-ratio-out Y   (phone to host)
//   usb-fs-rate-ratio Z       (the lower of the two)
//
//   bench_paced_link [--mib N] [--link usb-fs[:BPS[:TURNAROUND_US]]]
#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "hxphone/faults.h"
#include "hxphone/session_link.h"

namespace {

using Clock = std::chrono::steady_clock;
using hxphone::PacedLink;

constexpr size_t kHostWrite = 4096;

struct BenchOptions {
  uint64_t mib = 4;
  PacedLink link;
};

BenchOptions parseArguments(int argc, char** argv) {
  BenchOptions o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--mib" && i + 1 < argc) {
      o.mib = std::strtoull(argv[++i], nullptr, 10);
      if (o.mib < 1 || o.mib > 256) throw std::invalid_argument("--mib takes 1..256");
    } else if (a == "--link" && i + 1 < argc) {
      hxphone::PacedLinkParse parsed = hxphone::parsePacedLink(argv[++i]);
      if (!parsed.link) throw std::invalid_argument(parsed.error);
      o.link = *parsed.link;
    } else {
      throw std::invalid_argument("usage: bench_paced_link [--mib N] [--link usb-fs[:BPS[:TURNAROUND_US]]]");
    }
  }
  return o;
}

// A raw pty pair: the master for the phone (non-blocking, as hxphone keeps
// it), the slave for the host.
struct PtyPair {
  int master = -1;
  int slave = -1;

  PtyPair() {
    master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) throw std::runtime_error("posix_openpt");
    slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) throw std::runtime_error("open the pty slave");
    termios t{};
    ::tcgetattr(slave, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(slave, TCSANOW, &t);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
  }
  ~PtyPair() {
    ::close(slave);
    hangUp();
  }
  // Closes the phone's end: the host's reads and writes fail from then on.
  void hangUp() {
    if (master >= 0) ::close(master);
    master = -1;
  }
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;
};

bool writeAll(int fd, const uint8_t* bytes, size_t n) {
  while (n > 0) {
    ssize_t put = ::write(fd, bytes, n);
    if (put <= 0) return false;
    bytes += put;
    n -= static_cast<size_t>(put);
  }
  return true;
}

// Host to phone: the seconds from the host's first write until the phone has
// taken every byte off the link.
double measureIn(const BenchOptions& o, uint64_t bytes) {
  PtyPair pty;
  hxphone::FaultPlan noFaults;
  hxphone::PortTiming timing;
  timing.pacedLink = o.link;
  hxphone::SessionLink link(pty.master, nullptr, timing, noFaults, nullptr);
  hxphone::PhonePort& port = link.port();
  std::vector<uint8_t> source(kHostWrite, 0x5A);
  const Clock::time_point start = Clock::now();
  std::thread host([&] {
    for (uint64_t sent = 0; sent < bytes; sent += kHostWrite)
      if (!writeAll(pty.slave, source.data(), std::min<uint64_t>(kHostWrite, bytes - sent))) return;
  });
  std::vector<uint8_t> sink(bytes);
  if (hxphone::Ending end = port.readBytes(sink.data(), sink.size(), "the transfer")) {
    pty.hangUp();  // the host thread's pending call ends
    host.join();
    throw std::runtime_error(end.end().why);
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  host.join();
  return seconds;
}

// Phone to host: the seconds from the phone's first byte until the host has
// read the last.
double measureOut(const BenchOptions& o, uint64_t bytes) {
  PtyPair pty;
  hxphone::FaultPlan noFaults;
  hxphone::PortTiming timing;
  timing.pacedLink = o.link;
  hxphone::SessionLink link(pty.master, nullptr, timing, noFaults, nullptr);
  hxphone::PhonePort& port = link.port();
  Clock::time_point done{};
  std::thread host([&] {
    std::vector<uint8_t> buffer(1 << 16);
    for (uint64_t got = 0; got < bytes;) {
      ssize_t n = ::read(pty.slave, buffer.data(), buffer.size());
      if (n <= 0) return;
      got += static_cast<uint64_t>(n);
    }
    done = Clock::now();
  });
  std::vector<uint8_t> source(bytes, 0xA5);
  const Clock::time_point start = Clock::now();
  if (hxphone::Ending end = port.writeBytes(source.data(), source.size())) {
    pty.hangUp();  // the host thread's pending call ends
    host.join();
    throw std::runtime_error(end.end().why);
  }
  host.join();
  if (done == Clock::time_point{}) throw std::runtime_error("the host did not read every byte");
  return std::chrono::duration<double>(done - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const BenchOptions o = parseArguments(argc, argv);
    const uint64_t bytes = o.mib << 20;
    const double rate = o.link.bytesPerSecond;
    std::printf("paced link: %u bytes per second, %lld us turnaround, %zu bytes a frame; %llu MiB each way\n",
                o.link.bytesPerSecond, static_cast<long long>(o.link.turnaround.count()), o.link.bytesPerFrame(),
                static_cast<unsigned long long>(o.mib));
    const double inSeconds = measureIn(o, bytes);
    std::printf("host to phone: %.3f s, %.0f bytes per second\n", inSeconds, static_cast<double>(bytes) / inSeconds);
    const double outSeconds = measureOut(o, bytes);
    std::printf("phone to host: %.3f s, %.0f bytes per second\n", outSeconds, static_cast<double>(bytes) / outSeconds);
    const double inRatio = static_cast<double>(bytes) / inSeconds / rate;
    const double outRatio = static_cast<double>(bytes) / outSeconds / rate;
    std::printf("usb-fs-rate-ratio-in %.4f\n", inRatio);
    std::printf("usb-fs-rate-ratio-out %.4f\n", outRatio);
    std::printf("usb-fs-rate-ratio %.4f\n", std::min(inRatio, outRatio));
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_paced_link: %s\n", e.what());
    return 2;
  }
}
