// Measures what the host spends per unit of work while it flashes a virtual
// phone (an hxphone process) over a pseudo-terminal, each against the floor
// this machine sets for the same work, two ways, alternating round by round:
//   (a) CPU: a 64 MiB package flashed through the real module in this process,
//       the phone noting its link's turns; this process's user + system CPU
//       time from the connection report to the first "Waiting for Reset"
//       report, per MiB of images sent. Against it, the turns of that window
//       replayed on a fresh pty pair by two peers that only move the bytes
//       (turn_replay.h): the host peer's CPU per MiB of the same images.
//   (b) System calls: a fresh phone flashed by the `hxflash flash` program run
//       under `strace -f -y`; from the trace, every call of the thread that
//       writes the port most, from its first write of the port to its last
//       read of it, per exchange (exchange_calls.h says what one is), split by
//       kind of call and by kind of exchange (NFB chunks, FS packets, commands).
//       Against it, the pty floor of the same exchange (pty_floor.h): the
//       writes and reads its turns need at the most bytes one call on a pty
//       pair moves, measured when the benchmark starts.
// The module clock runs at 0.01, so its fixed waits cost little; both phones
// are checked against the package with `hxphone verify` afterwards.
//
// Prints the details of each round, the medians with their ranges, and as its
// last two lines (medians of the rounds)
//   host-cpu-ratio X (goal <= 1.3; host-cpu-ms-per-mib A)
//   host-syscalls-ratio Y (goal <= 1.1; host-syscalls-per-exchange B, pty floor C)
//
//   bench_host_cpu [--mib N] [--rounds N] [--keep]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "bench_files.h"
#include "bench_run.h"
#include "exchange_calls.h"
#include "flash_turns.h"
#include "phone_flash.h"
#include "pty_floor.h"
#include "syscall_trace.h"
#include "traced_flash.h"
#include "turn_replay.h"

namespace {

using hxbench::mib;

constexpr uint32_t kComPort = 41;
constexpr uint32_t kPageSize = 2048;
constexpr double kTimeScale = 0.01;
constexpr double kCpuGoal = 1.3;
constexpr double kSyscallsGoal = 1.1;

hxbench::RunOptions parseArguments(int argc, char** argv) {
  hxbench::RunOptions o;
  for (int i = 1; i < argc; ++i)
    if (!hxbench::takeRunOption(argc, argv, i, o))
      throw std::invalid_argument("usage: bench_host_cpu [--mib N] [--rounds N] [--keep]");
  return o;
}

void printSteps(const std::vector<hxbench::StepMark>& marks) {
  for (size_t i = 0; i + 1 < marks.size(); ++i) {
    const double seconds = std::chrono::duration<double>(marks[i + 1].when - marks[i].when).count();
    const double cpu = marks[i + 1].cpuSeconds - marks[i].cpuSeconds;
    std::printf("    %-28s %8.3f s   host cpu %7.3f s\n", marks[i].name.c_str(), seconds, cpu);
  }
}

// (a): the host's CPU per MiB of images sent, and the replay host peer's.
struct CpuRound {
  double hostMsPerMiB = 0;
  double replayMsPerMiB = 0;
  double ratio() const { return hostMsPerMiB / replayMsPerMiB; }
};

CpuRound measureCpu(const hxbench::BenchPackage& package, const hxbench::PhoneFlashSetup& setup, int round) {
  const hxbench::TurnsFlash flash = hxbench::flashNotingTurns(package, setup, round, kComPort);
  const hxbench::DownloadWindow& window = flash.phone->window;
  const auto download = window.untilCountdown("connected");
  const std::vector<hxbench::StepMark> marks = window.marks();
  const hxbench::SpanTurns span =
      hxbench::turnsBetween(flash.turns, hxbench::steadyNs(marks.front().when), hxbench::steadyNs(marks.back().when));
  const hxbench::TurnReplay replay = hxbench::replayTurns(span.turns);
  if (!replay.ok) throw std::runtime_error("the replay of round " + std::to_string(round) + " failed");
  const double images = mib(package.imageBytes);
  const CpuRound cpu{download.cpuSeconds * 1000 / images, replay.hostCpuSeconds * 1000 / images};
  std::printf("round %d cpu: Download %.3f s, host cpu %.3f s = %.2f ms per MiB of images, "
              "%.0f host waits per MiB; NAND verified\n",
              round, download.seconds, download.cpuSeconds, cpu.hostMsPerMiB,
              static_cast<double>(download.waits) / images);
  printSteps(marks);
  std::printf("round %d replay of its %zu turns: %.3f s, host peer cpu %.3f s = %.2f ms per MiB; "
              "host-cpu-ratio %.3f\n",
              round, span.turns.size(), replay.seconds, replay.hostCpuSeconds, cpu.replayMsPerMiB, cpu.ratio());
  return cpu;
}

std::vector<std::pair<std::string, long>> mostFirst(const std::map<std::string, long>& byKind) {
  std::vector<std::pair<std::string, long>> kinds(byKind.begin(), byKind.end());
  std::stable_sort(kinds.begin(), kinds.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
  return kinds;
}

void printTally(const char* label, const hxbench::CallTally& tally) {
  std::printf("    %-10s %6ld exchanges, %.2f calls each:", label, tally.exchanges, tally.callsPerExchange());
  for (const auto& [kind, count] : mostFirst(tally.byKind))
    std::printf(" %.2f %s,", tally.exchanges ? static_cast<double>(count) / tally.exchanges : 0.0, kind.c_str());
  std::printf("\n");
}

// (b): the host's system calls per exchange, and the pty floor of the same exchange.
struct SyscallRound {
  double callsPerExchange = 0;
  double floorPerExchange = 0;
  double ratio() const { return callsPerExchange / floorPerExchange; }
};

SyscallRound measureSyscalls(const std::string& strace, const hxbench::BenchPackage& package,
                             const hxbench::PhoneFlashSetup& setup, const hxbench::PtyLimits& limits, int round) {
  const hxbench::TracedFlash traced = hxbench::tracedFlash(strace, package, setup, kComPort, round);
  const hxbench::ExchangeCalls counted = hxbench::countExchangeCalls(hxbench::readTrace(traced.trace));
  std::error_code ec;
  if (!setup.keepFiles) std::filesystem::remove(traced.trace, ec);
  if (counted.all.exchanges == 0) throw std::runtime_error("the trace holds no exchange with the phone");
  const std::vector<hxphone::LinkTurn> turns = hxbench::turnsUpToLastAnswer(traced.turns);
  const uint64_t floor = hxbench::floorCalls(turns, limits);
  const double exchanges = static_cast<double>(counted.all.exchanges);
  const SyscallRound calls{counted.all.callsPerExchange(), static_cast<double>(floor) / exchanges};
  std::printf("round %d syscalls: thread %ld, port %s: %ld calls from its first write of the port to its last "
              "read, %ld exchanges = %.2f calls per exchange (%ld after the last exchange); NAND verified\n",
              round, counted.tid, counted.port.c_str(), counted.all.calls, counted.all.exchanges,
              counted.all.callsPerExchange(), counted.callsAfterLastExchange);
  printTally("all", counted.all);
  for (const auto& [kind, tally] : counted.byExchangeKind) printTally(kind.c_str(), tally);
  std::printf("round %d pty floor: %zu turns up to the last answer, %llu writes and reads = %.2f per exchange; "
              "host-syscalls-ratio %.3f\n",
              round, turns.size(), static_cast<unsigned long long>(floor), calls.floorPerExchange, calls.ratio());
  return calls;
}

// The figures of the rounds, one value per round each.
struct Rounds {
  std::vector<double> hostCpu, replayCpu, cpuRatios, calls, floors, callRatios;
};

void printFigures(const Rounds& r) {
  hxbench::printRounds("host cpu ms per MiB", r.hostCpu, 2);
  hxbench::printRounds("replay host peer cpu ms per MiB", r.replayCpu, 2);
  hxbench::printRounds("host syscalls per exchange", r.calls, 2);
  hxbench::printRounds("pty floor per exchange", r.floors, 2);
  hxbench::printRounds("host-cpu-ratio", r.cpuRatios, 3);
  hxbench::printRounds("host-syscalls-ratio", r.callRatios, 3);
  char beside[128];
  std::snprintf(beside, sizeof beside, "host-cpu-ms-per-mib %.2f, replay %.2f", hxbench::median(r.hostCpu),
                hxbench::median(r.replayCpu));
  hxbench::printFigure("host-cpu-ratio", r.cpuRatios, 3, hxbench::atMost(kCpuGoal), beside);
  std::snprintf(beside, sizeof beside, "host-syscalls-per-exchange %.2f, pty floor %.2f", hxbench::median(r.calls),
                hxbench::median(r.floors));
  hxbench::printFigure("host-syscalls-ratio", r.callRatios, 3, hxbench::atMost(kSyscallsGoal), beside);
}

int runBench(const hxbench::RunOptions& o) {
  const std::string dir = hxbench::makeWorkDir("hx-bench-host-cpu");
  const std::string strace = hxbench::findStrace(dir);
  if (strace.empty()) {
    std::fprintf(stderr, "bench_host_cpu: strace is needed to count the host's system calls and does not run "
                         "here; install it (apt-get install strace) and run again\n");
    std::filesystem::remove_all(dir);
    return 2;
  }
  const hxbench::PtyLimits limits = hxbench::measurePtyLimits();
  std::printf("pty pair: one write() to the slave takes at most %llu bytes, one read() from it returns at most "
              "%llu\n",
              static_cast<unsigned long long>(limits.hostWrite), static_cast<unsigned long long>(limits.hostRead));
  hxbench::usePrivatePortsDir(dir + "/ports");
  const hxbench::BenchPackage package = hxbench::writeBenchPackage(dir + "/Firmware.BIN", o.packageMiB, kPageSize);
  std::printf("package %.1f MiB, %zu FS images, %.1f MiB of images sent to the phone\n",
              mib(package.layout.packageSize), package.layout.fsImages.size(), mib(package.imageBytes));
  std::fflush(stdout);
  hxbench::PhoneFlashSetup setup;
  setup.workDir = dir;
  setup.timeScale = kTimeScale;
  setup.keepFiles = o.keep;

  Rounds r;
  for (int round = 1; round <= o.rounds; ++round) {
    const CpuRound cpu = measureCpu(package, setup, round);
    r.hostCpu.push_back(cpu.hostMsPerMiB);
    r.replayCpu.push_back(cpu.replayMsPerMiB);
    r.cpuRatios.push_back(cpu.ratio());
    std::fflush(stdout);
    const SyscallRound calls = measureSyscalls(strace, package, setup, limits, round);
    r.calls.push_back(calls.callsPerExchange);
    r.floors.push_back(calls.floorPerExchange);
    r.callRatios.push_back(calls.ratio());
    std::fflush(stdout);
  }
  hxbench::finishWorkDir(dir, o.keep);
  printFigures(r);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  return hxbench::runBenchmark("bench_host_cpu", [&] { return runBench(parseArguments(argc, argv)); });
}
