// Flashes a large package onto virtual phones through the real module and
// sets each flash beside what its exchange could take at best:
//
//   a. a phone on a plain pseudo-terminal notes its link turn by turn
//      (hxphone --turns); the flash's window is its Download from the
//      connection report to the first "Waiting for Reset" report;
//   b. the turns of (a) inside that window are replayed on a fresh pty pair
//      by two peers that only move the bytes (turn_replay.h): the same
//      writes and reads, without the module's and the phone's work between;
//   c. a phone on hxphone's USB full-speed model (--link usb-fs) is flashed
//      the same way, and its turns inside its window give the time the link
//      itself needs: every byte at the link's rate each way plus one
//      turnaround per answered turn.
//
// The module's clock runs at 0.01, so its fixed waits shrink to a hundredth.
// Each phone is an hxphone process of its own and is checked afterwards with
// `hxphone verify`. Each round does a, b and c in that order (three rounds
// by default), and prints the times, the turns, the bytes each way, the
// pauses of the link (still for over 10 ms beyond its turns' own time: the
// module's fixed waits show there) and the window's steps with the host's CPU
// time; then the medians with their ranges, and as its last two lines
//   throughput-ratio X (goal >= 0.85)   replay time / flash window time on the plain pty
//   usb-fs-ratio Y (goal >= 0.95)       the link's own time / flash window time on usb-fs
// both the median of the rounds: 1 is a flash that adds nothing to its bytes.
//
//   bench_flash_throughput [--mib N] [--rounds N] [--module FILE] [--keep]
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench_files.h"
#include "bench_run.h"
#include "flash_turns.h"
#include "hxphone/link_pacer.h"
#include "link_time.h"
#include "phone_flash.h"
#include "turn_replay.h"

namespace {

using hxbench::mib;

constexpr uint32_t kComPort = 41;
constexpr uint32_t kPageSize = 2048;
// The module's fixed waits (agent connection, reset countdown) scaled down.
constexpr double kTimeScale = 0.01;
constexpr const char* kUsbLink = "usb-fs";
// A stillness of the link between turns longer than this is reported as a pause.
constexpr std::chrono::milliseconds kPause(10);
constexpr double kThroughputGoal = 0.85;

struct BenchOptions {
  hxbench::RunOptions run;
  std::string module = HX_BENCH_MODULE;  // another build of the module, to compare
};

BenchOptions parseArguments(int argc, char** argv) {
  BenchOptions o;
  for (int i = 1; i < argc; ++i) {
    if (hxbench::takeRunOption(argc, argv, i, o.run)) continue;
    if (std::string(argv[i]) == "--module" && i + 1 < argc) {
      o.module = argv[++i];
    } else {
      throw std::invalid_argument("usage: bench_flash_throughput [--mib N] [--rounds N] [--module FILE] [--keep]");
    }
  }
  return o;
}

// A flash's window and the turns of its link inside it.
struct FlashExchange {
  hxbench::DownloadWindow::Span window;
  std::vector<hxbench::StepMark> steps;
  hxbench::SpanTurns span;
  // Where the link stood still for longer than kPause beyond the time of
  // the last turn's own bytes on it: the module's fixed waits, say.
  size_t pauses = 0;
  double pauseSeconds = 0;
};

// Flashes one phone, on `link` or on a plain pty, its turns noted; the turns
// that began between the connection report and the countdown.
FlashExchange flashExchange(const hxbench::BenchPackage& package, const hxbench::PhoneFlashSetup& setup,
                            int flashNumber, const std::optional<hxphone::PacedLink>& link) {
  std::vector<std::string> arguments;
  if (link) arguments = {"--link", kUsbLink};
  const hxbench::TurnsFlash flash = hxbench::flashNotingTurns(package, setup, flashNumber, kComPort, arguments);
  const hxbench::DownloadWindow& window = flash.phone->window;
  FlashExchange exchange;
  exchange.window = window.untilCountdown("connected");
  exchange.steps = window.marks();
  if (!window.complete() || exchange.steps.empty()) throw std::runtime_error("the download window was not seen");
  const int64_t from = hxbench::steadyNs(exchange.steps.front().when);
  const int64_t to = hxbench::steadyNs(exchange.steps.back().when);
  exchange.span = hxbench::turnsBetween(flash.turns, from, to);
  for (const hxbench::LinkPause& pause : hxbench::linkPauses(exchange.span.turns, from, to, link, kPause)) {
    ++exchange.pauses;
    exchange.pauseSeconds += pause.seconds();
  }
  return exchange;
}

void printFlash(int round, const char* what, const FlashExchange& e) {
  std::printf("round %d %s: window %.3f s (host cpu %.3f s), %zu turns (%zu answered), "
              "host to phone %.2f MiB, phone to host %.3f MiB, %.2f MiB/s; link still in %zu pauses over %.0f ms: %.3f s\n",
              round, what, e.window.seconds, e.window.cpuSeconds, e.span.turns.size(), e.span.answered,
              mib(e.span.hostBytes), mib(e.span.phoneBytes), e.span.mibMoved() / e.window.seconds, e.pauses,
              std::chrono::duration<double, std::milli>(kPause).count(), e.pauseSeconds);
  for (size_t i = 0; i + 1 < e.steps.size(); ++i) {
    const double seconds = std::chrono::duration<double>(e.steps[i + 1].when - e.steps[i].when).count();
    const double cpu = e.steps[i + 1].cpuSeconds - e.steps[i].cpuSeconds;
    std::printf("    %-28s %8.3f s   host cpu %7.3f s\n", e.steps[i].name.c_str(), seconds, cpu);
  }
}

int runBench(const BenchOptions& o) {
  const hxphone::PacedLinkParse usbLink = hxphone::parsePacedLink(kUsbLink);
  if (!usbLink.link) throw std::logic_error(usbLink.error);
  const std::string dir = hxbench::makeWorkDir("hx-bench-flash");
  hxbench::usePrivatePortsDir(dir + "/ports");
  const hxbench::BenchPackage package = hxbench::writeBenchPackage(dir + "/Firmware.BIN", o.run.packageMiB, kPageSize);
  std::printf("package %.1f MiB, %zu FS images, %.1f MiB of images sent to the phone; module clock at %.2f\n",
              mib(package.layout.packageSize), package.layout.fsImages.size(), mib(package.imageBytes), kTimeScale);
  hxbench::PhoneFlashSetup setup;
  setup.workDir = dir;
  setup.module = o.module;
  setup.timeScale = kTimeScale;
  setup.keepFiles = o.run.keep;

  std::vector<double> throughputRatios, usbRatios, ptyWindows, replayTimes, usbWindows, usbTimes;
  for (int round = 1; round <= o.run.rounds; ++round) {
    const FlashExchange pty = flashExchange(package, setup, 2 * round - 1, std::nullopt);
    printFlash(round, "pty flash", pty);
    std::fflush(stdout);

    const hxbench::TurnReplay replay = hxbench::replayTurns(pty.span.turns);
    if (!replay.ok) throw std::runtime_error("the replay of round " + std::to_string(round) + " failed");
    ptyWindows.push_back(pty.window.seconds);
    replayTimes.push_back(replay.seconds);
    throughputRatios.push_back(replay.seconds / pty.window.seconds);
    std::printf("round %d replay: %.3f s, %.2f MiB/s, host peer cpu %.3f s = %.2f ms per MiB of images "
                "(the flash: %.2f); throughput-ratio %.4f\n",
                round, replay.seconds, pty.span.mibMoved() / replay.seconds, replay.hostCpuSeconds,
                replay.hostCpuSeconds * 1000 / mib(package.imageBytes), pty.window.cpuSeconds * 1000 / mib(package.imageBytes),
                throughputRatios.back());
    std::fflush(stdout);

    const FlashExchange usb = flashExchange(package, setup, 2 * round, usbLink.link);
    printFlash(round, "usb-fs flash", usb);
    const hxbench::LinkTime link = hxbench::linkTime(usb.span.turns, *usbLink.link);
    usbWindows.push_back(usb.window.seconds);
    usbTimes.push_back(link.seconds());
    usbRatios.push_back(link.seconds() / usb.window.seconds);
    std::printf("round %d usb-fs link: %.3f s (bytes %.3f s, %zu turnarounds %.3f s); usb-fs-ratio %.4f\n", round,
                link.seconds(), link.bytesSeconds, usb.span.answered, link.turnaroundSeconds, usbRatios.back());
    std::fflush(stdout);
  }
  hxbench::finishWorkDir(dir, o.run.keep);
  hxbench::printRounds("pty flash window s", ptyWindows, 3);
  hxbench::printRounds("replay s", replayTimes, 3);
  hxbench::printRounds("usb-fs flash window s", usbWindows, 3);
  hxbench::printRounds("usb-fs link s", usbTimes, 3);
  hxbench::printRounds("throughput-ratio", throughputRatios, 4);
  hxbench::printRounds("usb-fs-ratio", usbRatios, 4);
  hxbench::printFigure("throughput-ratio", throughputRatios, 4, hxbench::atLeast(kThroughputGoal));
  hxbench::printFigure("usb-fs-ratio", usbRatios, 4, hxbench::atLeast(0.95));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  return hxbench::runBenchmark("bench_flash_throughput", [&] { return runBench(parseArguments(argc, argv)); });
}
