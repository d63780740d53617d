// Measures what the host spends per unit of work while it flashes a virtual
// phone (an hxphone process) over a pseudo-terminal, two ways, alternating
// round by round:
//   (a) CPU: a 64 MiB package flashed through the real module in this process;
//       this process's user + system CPU time from the connection report to
//       the first "Waiting for Reset" report, per MiB of images sent.
//   (b) System calls: a fresh phone flashed by the `hxflash flash` program run
//       under `strace -f -y`; from the trace, every call of the thread that
//       writes the port most, from its first write of the port to its last
//       read of it, per exchange (exchange_calls.h says what one is), split by
//       kind of call and by kind of exchange (NFB chunks, FS packets, commands).
// The module clock runs at 0.01, so its fixed waits cost little; both phones
// are checked against the package with `hxphone verify` afterwards.
//
// Prints the details of each round, the medians with their ranges, and as its
// last two lines (medians of the rounds)
//   host-cpu-ms-per-mib X
//   host-syscalls-per-exchange Y
//
//   bench_host_cpu [--mib N] [--rounds N] [--keep]
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "bench_files.h"
#include "bench_run.h"
#include "child_process.h"
#include "exchange_calls.h"
#include "phone_flash.h"
#include "syscall_trace.h"

namespace {

using hxbench::mib;

constexpr uint32_t kComPort = 41;
constexpr uint32_t kPageSize = 2048;
constexpr double kTimeScale = 0.01;
// hxflash flashes a phone whose port appears while its session waits; one
// that is there before is taken for a phone left in the socket. So the phone
// starts once hxflash says it waits, and plugs in shortly after.
constexpr const char* kHxflashWaits = "waiting for the phone to be plugged in";
constexpr auto kHxflashReadyLimit = std::chrono::minutes(2);
constexpr auto kOutputLookStep = std::chrono::milliseconds(20);
constexpr int kTracedPlugDelayMs = 200;
constexpr auto kTracedFlashLimit = std::chrono::minutes(15);
constexpr auto kPhoneExitLimit = std::chrono::minutes(2);
constexpr auto kStraceCheckLimit = std::chrono::seconds(20);

hxbench::RunOptions parseArguments(int argc, char** argv) {
  hxbench::RunOptions o;
  for (int i = 1; i < argc; ++i)
    if (!hxbench::takeRunOption(argc, argv, i, o))
      throw std::invalid_argument("usage: bench_host_cpu [--mib N] [--rounds N] [--keep]");
  return o;
}

// The strace program on PATH (child processes are started by file name), or
// empty when there is none that runs.
std::string findStrace(const std::string& dir) {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  for (size_t begin = 0; begin <= dirs.size();) {
    const size_t end = std::min(dirs.find(':', begin), dirs.size());
    const std::string candidate = dirs.substr(begin, end - begin) + "/strace";
    begin = end + 1;
    if (candidate.front() != '/' || ::access(candidate.c_str(), X_OK) != 0) continue;
    try {
      hxflash::ChildProcess check({candidate, "-V"}, dir + "/strace-version.txt", dir + "/strace-version.txt");
      const std::optional<int> status = check.waitFor(kStraceCheckLimit);
      if (status && *status == 0) return candidate;
    } catch (const std::exception&) {
    }
  }
  return {};
}

void printSteps(const std::vector<hxbench::StepMark>& marks) {
  for (size_t i = 0; i + 1 < marks.size(); ++i) {
    const double seconds = std::chrono::duration<double>(marks[i + 1].when - marks[i].when).count();
    const double cpu = marks[i + 1].cpuSeconds - marks[i].cpuSeconds;
    std::printf("    %-28s %8.3f s   host cpu %7.3f s\n", marks[i].name.c_str(), seconds, cpu);
  }
}

// (a): the host CPU in ms per MiB of images sent.
double measureCpu(const hxbench::BenchPackage& package, const hxbench::PhoneFlashSetup& setup, int round) {
  std::vector<std::unique_ptr<hxbench::FlashedPhone>> phones;
  phones.push_back(hxbench::phoneOn(kComPort));
  if (!hxbench::flashPhones(package, setup, round, phones)) {
    const hxbench::FlashedPhone& flash = *phones[0];
    throw std::runtime_error("round " + std::to_string(round) + ": the in-process flash failed (download " +
                             (flash.succeeded ? "succeeded" : "failed") + ", phone exit " +
                             std::to_string(flash.phoneStatus) + ", NAND not verified); files in " + setup.workDir);
  }
  const hxbench::DownloadWindow& window = phones[0]->window;
  const auto download = window.untilCountdown("connected");
  const double msPerMiB = download.cpuSeconds * 1000 / mib(package.imageBytes);
  std::printf("round %d cpu: Download %.3f s, host cpu %.3f s = %.2f ms per MiB of images, "
              "%.0f host waits per MiB; NAND verified\n",
              round, download.seconds, download.cpuSeconds, msPerMiB,
              static_cast<double>(download.waits) / mib(package.imageBytes));
  printSteps(window.marks());
  return msPerMiB;
}

// Whether `program` wrote `text` to its output file within `limit`; false as
// soon as it has ended without.
bool waitForOutput(hxflash::ChildProcess& program, const std::string& output, const std::string& text,
                   std::chrono::steady_clock::duration limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    std::ifstream in(output);
    const std::string seen((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (seen.find(text) != std::string::npos) return true;
    if (program.waitFor(kOutputLookStep)) return false;
  }
  return false;
}

// Runs hxflash flash under strace against a fresh phone; returns the trace's path.
std::string tracedFlash(const std::string& strace, const hxbench::BenchPackage& package,
                        const hxbench::PhoneFlashSetup& setup, int round) {
  const std::string tag = std::to_string(round);
  const std::string trace = setup.workDir + "/trace-" + tag;
  const std::string output = setup.workDir + "/hxflash-" + tag + ".txt";
  // Every kind of call: what the thread waits in, locks and logs counts too.
  // strace writing to a file ignores SIGTERM unless told (-I 2); with it, a
  // run given up on ends, and strace ends hxflash with it.
  hxflash::ChildProcess flash({strace, "-I", "2", "-f", "-qq", "-y", "-s", "4", "-o", trace, "-e", "trace=all",
                               HX_BENCH_HXFLASH, "flash", package.path, "-p", std::to_string(kComPort),
                               "--time-scale", std::to_string(setup.timeScale), "--log-dir",
                               setup.workDir + "/hxflash-logs-" + tag},
                              output, output);
  if (!waitForOutput(flash, output, kHxflashWaits, kHxflashReadyLimit))
    throw std::runtime_error("round " + tag + ": hxflash under strace did not come to wait for the phone; see " +
                             output);

  hxbench::PhoneFlashSetup phoneSetup = setup;
  phoneSetup.plugDelayMs = kTracedPlugDelayMs;
  const auto phone = hxbench::phoneOn(kComPort);
  const std::unique_ptr<hxflash::ChildProcess> phoneProcess = hxbench::startPhoneProcess(package, phoneSetup, *phone);
  const std::optional<int> flashStatus = flash.waitFor(kTracedFlashLimit);
  if (!flashStatus) throw std::runtime_error("hxflash under strace did not finish in time; see " + output);
  const std::optional<int> phoneStatus = phoneProcess->waitFor(kPhoneExitLimit);
  const bool verified = *flashStatus == 0 && phoneStatus == 0 && hxbench::verifyPhoneNand(package, setup, kComPort);
  std::error_code ec;
  if (!setup.keepFiles) std::filesystem::remove(hxbench::phoneFile(setup, kComPort, ".nand"), ec);
  if (!verified)
    throw std::runtime_error("round " + tag + ": the traced flash failed (hxflash exit " +
                             std::to_string(*flashStatus) + ", phone exit " +
                             (phoneStatus ? std::to_string(*phoneStatus) : std::string("none")) +
                             ", or NAND not verified); files in " + setup.workDir);
  return trace;
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

// (b): the host's system calls per exchange.
double measureSyscalls(const std::string& strace, const hxbench::BenchPackage& package,
                       const hxbench::PhoneFlashSetup& setup, int round) {
  const std::string trace = tracedFlash(strace, package, setup, round);
  const hxbench::ExchangeCalls counted = hxbench::countExchangeCalls(hxbench::readTrace(trace));
  std::error_code ec;
  if (!setup.keepFiles) std::filesystem::remove(trace, ec);
  if (counted.all.exchanges == 0) throw std::runtime_error("the trace holds no exchange with the phone");
  std::printf("round %d syscalls: thread %ld, port %s: %ld calls from its first write of the port to its last "
              "read, %ld exchanges = %.2f calls per exchange (%ld after the last exchange); NAND verified\n",
              round, counted.tid, counted.port.c_str(), counted.all.calls, counted.all.exchanges,
              counted.all.callsPerExchange(), counted.callsAfterLastExchange);
  printTally("all", counted.all);
  for (const auto& [kind, tally] : counted.byExchangeKind) printTally(kind.c_str(), tally);
  return counted.all.callsPerExchange();
}

int runBench(const hxbench::RunOptions& o) {
  const std::string dir = hxbench::makeWorkDir("hx-bench-host-cpu");
  const std::string strace = findStrace(dir);
  if (strace.empty()) {
    std::fprintf(stderr, "bench_host_cpu: strace is needed to count the host's system calls and does not run "
                         "here; install it (apt-get install strace) and run again\n");
    std::filesystem::remove_all(dir);
    return 2;
  }
  hxbench::usePrivatePortsDir(dir + "/ports");
  const hxbench::BenchPackage package = hxbench::writeBenchPackage(dir + "/Firmware.BIN", o.packageMiB, kPageSize);
  std::printf("package %.1f MiB, %zu FS images, %.1f MiB of images sent to the phone\n",
              mib(package.layout.packageSize), package.layout.fsImages.size(), mib(package.imageBytes));
  std::fflush(stdout);
  hxbench::PhoneFlashSetup setup;
  setup.workDir = dir;
  setup.timeScale = kTimeScale;
  setup.keepFiles = o.keep;

  std::vector<double> cpuPerMiB, callsPerExchange;
  for (int round = 1; round <= o.rounds; ++round) {
    cpuPerMiB.push_back(measureCpu(package, setup, round));
    std::fflush(stdout);
    callsPerExchange.push_back(measureSyscalls(strace, package, setup, round));
    std::fflush(stdout);
  }
  hxbench::finishWorkDir(dir, o.keep);
  hxbench::printRounds("host cpu ms per MiB", cpuPerMiB, 2);
  hxbench::printRounds("host syscalls per exchange", callsPerExchange, 2);
  hxbench::printFigure("host-cpu-ms-per-mib", cpuPerMiB, 2, hxbench::noGoalSet());
  hxbench::printFigure("host-syscalls-per-exchange", callsPerExchange, 2, hxbench::noGoalSet());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  return hxbench::runBenchmark("bench_host_cpu", [&] { return runBench(parseArguments(argc, argv)); });
}
