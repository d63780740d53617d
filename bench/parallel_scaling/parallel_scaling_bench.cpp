// Measures how well flashing scales from one phone to several at once: each
// round flashes one phone alone, then eight phones together (COM41..48), then
// sixteen (COM41..56), the same 64 MiB package through the real module in
// this process, every phone an hxphone process on the USB full-speed link
// model (`--link usb-fs`: about 1 MB/s each way, so a flash takes about a
// minute and the host has time to spare unless it serialises the phones).
// The module clock runs at 0.01.
//
// One phone's time is its Download from the connection report to the first
// "Waiting for Reset" report; the wall time of several runs from the earliest
// connection report to the latest "Waiting for Reset". Every phone must
// succeed and its NAND must match the package (`hxphone verify`, after the
// flash, outside the times). Also prints the host process's CPU time over
// each of those spans, the CPU use of the whole process tree (this process
// and every phone's, user + system, over the span's wall time, in cores),
// and each step's time alone against its median and slowest among the others.
// When the tree kept the machine's cores nearly all busy, a line says so: the
// cores, not the module, were then the limit.
//
// Prints the details of each round, the medians with their ranges, and as its
// last lines (medians of the rounds), one for each number of phones:
//   parallel-efficiency X (goal >= 0.9; cpu use C of N cores)        eight phones
//   parallel-efficiency-16 Y (goal >= 0.9; cpu use C of N cores)   sixteen
// each one phone's time / the wall time of those phones.
//
//   bench_parallel_scaling [--mib N] [--rounds N] [--phones N[,N...]] [--keep]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "bench_files.h"
#include "bench_run.h"
#include "phone_flash.h"
#include "process_tree_cpu.h"

namespace {

using hxbench::median;
using hxbench::mib;
using Phones = std::vector<std::unique_ptr<hxbench::FlashedPhone>>;

constexpr uint32_t kFirstComPort = 41;
constexpr uint32_t kPageSize = 2048;
constexpr double kTimeScale = 0.01;
const std::vector<std::string> kUsbFullSpeed = {"--link", "usb-fs"};
// The figure of eight phones keeps the name it has always had.
constexpr int kPhonesOfPlainFigure = 8;
constexpr double kEfficiencyGoal = 0.90;
// Cores this busy over the wall time leave the phones nothing more to take.
constexpr double kCoresBusy = 0.9;

struct BenchOptions {
  hxbench::RunOptions run;
  std::vector<int> phones = {8, 16};
};

std::vector<int> parsePhoneCounts(const std::string& text) {
  std::vector<int> counts;
  std::istringstream in(text);
  for (std::string item; std::getline(in, item, ',');) {
    const int count = std::atoi(item.c_str());
    if (count < 2 || count > 16) throw std::invalid_argument("--phones takes numbers 2..16, comma-separated");
    counts.push_back(count);
  }
  if (counts.empty()) throw std::invalid_argument("--phones takes numbers 2..16, comma-separated");
  return counts;
}

BenchOptions parseArguments(int argc, char** argv) {
  BenchOptions o;
  for (int i = 1; i < argc; ++i) {
    if (hxbench::takeRunOption(argc, argv, i, o.run)) continue;
    if (std::string(argv[i]) == "--phones" && i + 1 < argc) {
      o.phones = parsePhoneCounts(argv[++i]);
    } else {
      throw std::invalid_argument(
          "usage: bench_parallel_scaling [--mib N] [--rounds N] [--phones N[,N...]] [--keep]");
    }
  }
  return o;
}

// The wall time, the host process's CPU and the whole process tree's CPU of a span of marks.
struct Span {
  double seconds = 0;
  double cpuSeconds = 0;
  double treeCpuSeconds = 0;
  double cores() const { return seconds > 0 ? treeCpuSeconds / seconds : 0; }
};

Span between(const hxbench::StepMark& from, const hxbench::StepMark& to) {
  return {std::chrono::duration<double>(to.when - from.when).count(), to.cpuSeconds - from.cpuSeconds,
          to.treeCpuSeconds - from.treeCpuSeconds};
}

// Each step's time in the order of the steps, named by the mark it begins
// with; a step that comes again (one per FS image) is numbered: "... #2".
using Steps = std::vector<std::pair<std::string, double>>;

Steps stepSeconds(const hxbench::DownloadWindow& window) {
  const std::vector<hxbench::StepMark> marks = window.marks();
  std::map<std::string, int> seen;
  Steps steps;
  for (size_t i = 0; i + 1 < marks.size(); ++i) {
    const int time = ++seen[marks[i].name];
    const std::string name = time == 1 ? marks[i].name : marks[i].name + " #" + std::to_string(time);
    steps.emplace_back(name, between(marks[i], marks[i + 1]).seconds);
  }
  return steps;
}

void flashOrThrow(const hxbench::BenchPackage& package, const hxbench::PhoneFlashSetup& setup, int flash,
                  Phones& phones) {
  if (hxbench::flashPhones(package, setup, flash, phones)) return;
  std::string failed;
  for (const auto& phone : phones)
    if (!phone->verified)
      failed += " COM" + std::to_string(phone->comPort) + " (download " +
                (phone->succeeded ? "succeeded" : "failed") + ", phone exit " + std::to_string(phone->phoneStatus) +
                ")";
  throw std::runtime_error("flash " + std::to_string(flash) + " failed or did not verify:" + failed + "; files in " +
                           setup.workDir);
}

// One phone alone; its Download time.
Span flashAlone(const hxbench::BenchPackage& package, const hxbench::PhoneFlashSetup& setup, int round, int flash,
                Steps* steps) {
  Phones phones;
  phones.push_back(hxbench::phoneOn(kFirstComPort, kUsbFullSpeed));
  flashOrThrow(package, setup, flash, phones);
  const std::vector<hxbench::StepMark> marks = phones[0]->window.marks();
  *steps = stepSeconds(phones[0]->window);
  const Span alone = between(marks.front(), marks.back());
  std::printf("round %d one phone: Download %.3f s, host cpu %.3f s (%.2f ms per MiB of images), cpu use %.2f "
              "cores; NAND verified\n",
              round, alone.seconds, alone.cpuSeconds, alone.cpuSeconds * 1000 / mib(package.imageBytes), alone.cores());
  return alone;
}

// The phones at once; from the earliest connection to the latest countdown.
// `flash` numbers the module's copy, `round` the printed lines.
Span flashTogether(const hxbench::BenchPackage& package, const hxbench::PhoneFlashSetup& setup, int round, int flash,
                   int count, std::vector<Steps>* steps) {
  Phones phones;
  for (int i = 0; i < count; ++i) phones.push_back(hxbench::phoneOn(kFirstComPort + i, kUsbFullSpeed));
  flashOrThrow(package, setup, flash, phones);
  std::vector<std::vector<hxbench::StepMark>> marks;
  for (const auto& phone : phones) {
    marks.push_back(phone->window.marks());
    steps->push_back(stepSeconds(phone->window));
  }
  const auto byTime = [](const hxbench::StepMark& a, const hxbench::StepMark& b) { return a.when < b.when; };
  hxbench::StepMark earliest = marks.front().front(), latest = marks.front().back();
  for (const auto& own : marks) {
    earliest = std::min(earliest, own.front(), byTime);
    latest = std::max(latest, own.back(), byTime);
  }
  for (size_t i = 0; i < phones.size(); ++i)
    std::printf("    COM%u connected at %6.3f s, Download %.3f s\n", phones[i]->comPort,
                between(earliest, marks[i].front()).seconds, between(marks[i].front(), marks[i].back()).seconds);
  const Span wall = between(earliest, latest);
  std::printf("round %d %d phones: wall %.3f s, host cpu %.3f s (%.2f ms per MiB of images), cpu use %.2f cores; "
              "every NAND verified\n",
              round, count, wall.seconds, wall.cpuSeconds, wall.cpuSeconds * 1000 / (mib(package.imageBytes) * count),
              wall.cores());
  return wall;
}

void printStepComparison(const Steps& alone, const std::vector<Steps>& together) {
  std::printf("    %-28s %9s %14s %12s\n", "step", "alone s", "together med s", "slowest s");
  for (const auto& [name, seconds] : alone) {
    std::vector<double> others;
    for (const Steps& steps : together)
      for (const auto& [otherName, otherSeconds] : steps)
        if (otherName == name) others.push_back(otherSeconds);
    const double slowest = others.empty() ? 0 : *std::max_element(others.begin(), others.end());
    std::printf("    %-28s %9.3f %14.3f %12.3f\n", name.c_str(), seconds, median(others), slowest);
  }
}

// The rounds of one number of phones at once.
struct CountRounds {
  std::vector<double> wallSeconds, efficiencies, cores;
};

std::string figureName(int count) {
  return count == kPhonesOfPlainFigure ? "parallel-efficiency" : "parallel-efficiency-" + std::to_string(count);
}

void printFigures(const std::vector<double>& aloneSeconds, const std::map<int, CountRounds>& byCount) {
  const int cores = hxbench::usableCores();
  hxbench::printRounds("one phone s", aloneSeconds, 3);
  for (const auto& [count, r] : byCount) {
    hxbench::printRounds("wall of " + std::to_string(count) + " phones s", r.wallSeconds, 3);
    hxbench::printRounds("cpu use of " + std::to_string(count) + " phones, cores", r.cores, 2);
    hxbench::printRounds(figureName(count), r.efficiencies, 4);
    if (median(r.cores) >= kCoresBusy * cores)
      std::printf("%d phones: the process tree kept %.2f of the %d cores busy over the wall time: the cores, not "
                  "the module, are the limit\n",
                  count, median(r.cores), cores);
  }
  for (const auto& [count, r] : byCount) {
    char beside[96];
    std::snprintf(beside, sizeof beside, "cpu use %.2f of %d cores%s", median(r.cores), cores,
                  median(r.cores) >= kCoresBusy * cores ? ", the cores are the limit" : "");
    const hxbench::Goal goal = hxbench::atLeast(kEfficiencyGoal);
    hxbench::printFigure(figureName(count), r.efficiencies, 4, goal, beside);
  }
}

int runBench(const BenchOptions& o) {
  const std::string dir = hxbench::makeWorkDir("hx-bench-parallel");
  hxbench::usePrivatePortsDir(dir + "/ports");
  const hxbench::BenchPackage package = hxbench::writeBenchPackage(dir + "/Firmware.BIN", o.run.packageMiB, kPageSize);
  std::printf("package %.1f MiB, %.1f MiB of images sent to each phone; phones on usb-fs links; %d cores\n",
              mib(package.layout.packageSize), mib(package.imageBytes), hxbench::usableCores());
  std::fflush(stdout);
  hxbench::PhoneFlashSetup setup;
  setup.workDir = dir;
  setup.timeScale = kTimeScale;
  setup.keepFiles = o.run.keep;
  setup.markTreeCpu = true;

  std::vector<double> aloneSeconds;
  std::map<int, CountRounds> byCount;
  int flash = 0;
  for (int round = 1; round <= o.run.rounds; ++round) {
    Steps aloneSteps;
    const Span alone = flashAlone(package, setup, round, ++flash, &aloneSteps);
    aloneSeconds.push_back(alone.seconds);
    std::fflush(stdout);
    for (int count : o.phones) {
      std::vector<Steps> togetherSteps;
      const Span wall = flashTogether(package, setup, round, ++flash, count, &togetherSteps);
      CountRounds& r = byCount[count];
      r.wallSeconds.push_back(wall.seconds);
      r.efficiencies.push_back(alone.seconds / wall.seconds);
      r.cores.push_back(wall.cores());
      std::printf("round %d efficiency of %d phones %.4f\n", round, count, r.efficiencies.back());
      printStepComparison(aloneSteps, togetherSteps);
      std::fflush(stdout);
    }
  }
  hxbench::finishWorkDir(dir, o.run.keep);
  printFigures(aloneSeconds, byCount);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  return hxbench::runBenchmark("bench_parallel_scaling", [&] { return runBench(parseArguments(argc, argv)); });
}
