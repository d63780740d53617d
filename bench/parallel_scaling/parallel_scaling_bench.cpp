// Measures how well flashing scales from one phone to eight at once: each
// round flashes one phone alone, then eight phones together (COM41..48), the
// same 64 MiB package through the real module in this process, every phone an
// hxphone process on the USB full-speed link model (`--link usb-fs`: about
// 1 MB/s each way, so a flash takes about a minute and the host has time to
// spare unless it serialises the phones). The module clock runs at 0.01.
//
// One phone's time is its Download from the connection report to the first
// "Waiting for Reset" report; the wall time of eight runs from the earliest
// connection report to the latest "Waiting for Reset". Every phone must
// succeed and its NAND must match the package (`hxphone verify`, after the
// flash, outside the times). Also prints the host process's CPU time over
// each of those spans, and each step's time alone against its median and
// slowest among the eight.
//
// Prints the details of each round, the medians with their ranges, and as its
// last line (median of the rounds)
//   parallel-efficiency X    (one phone's time / wall time of eight)
//
//   bench_parallel_scaling [--mib N] [--rounds N] [--phones N] [--keep]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "bench_files.h"
#include "bench_run.h"
#include "phone_flash.h"

namespace {

using hxbench::median;
using hxbench::mib;
using Phones = std::vector<std::unique_ptr<hxbench::FlashedPhone>>;

constexpr uint32_t kFirstComPort = 41;
constexpr uint32_t kPageSize = 2048;
constexpr double kTimeScale = 0.01;
const std::vector<std::string> kUsbFullSpeed = {"--link", "usb-fs"};

struct BenchOptions {
  hxbench::RunOptions run;
  int phones = 8;
};

BenchOptions parseArguments(int argc, char** argv) {
  BenchOptions o;
  for (int i = 1; i < argc; ++i) {
    if (hxbench::takeRunOption(argc, argv, i, o.run)) continue;
    if (std::string(argv[i]) == "--phones" && i + 1 < argc) {
      o.phones = std::atoi(argv[++i]);
      if (o.phones < 2 || o.phones > 16) throw std::invalid_argument("--phones takes 2..16");
    } else {
      throw std::invalid_argument("usage: bench_parallel_scaling [--mib N] [--rounds N] [--phones N] [--keep]");
    }
  }
  return o;
}

// The wall time and host CPU of a span of marks.
struct Span {
  double seconds = 0;
  double cpuSeconds = 0;
};

Span between(const hxbench::StepMark& from, const hxbench::StepMark& to) {
  return {std::chrono::duration<double>(to.when - from.when).count(), to.cpuSeconds - from.cpuSeconds};
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
Span flashAlone(const hxbench::BenchPackage& package, const hxbench::PhoneFlashSetup& setup, int round,
                Steps* steps) {
  Phones phones;
  phones.push_back(hxbench::phoneOn(kFirstComPort, kUsbFullSpeed));
  flashOrThrow(package, setup, 2 * round - 1, phones);
  const auto download = phones[0]->window.untilCountdown("connected");
  *steps = stepSeconds(phones[0]->window);
  std::printf("round %d one phone: Download %.3f s, host cpu %.3f s (%.2f ms per MiB of images); NAND verified\n",
              round, download.seconds, download.cpuSeconds, download.cpuSeconds * 1000 / mib(package.imageBytes));
  return {download.seconds, download.cpuSeconds};
}

// The phones at once; from the earliest connection to the latest countdown.
Span flashTogether(const hxbench::BenchPackage& package, const hxbench::PhoneFlashSetup& setup, int round, int count,
                   std::vector<Steps>* steps) {
  Phones phones;
  for (int i = 0; i < count; ++i) phones.push_back(hxbench::phoneOn(kFirstComPort + i, kUsbFullSpeed));
  flashOrThrow(package, setup, 2 * round, phones);
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
  std::printf("round %d %d phones: wall %.3f s, host cpu %.3f s (%.2f ms per MiB of images); every NAND verified\n",
              round, count, wall.seconds, wall.cpuSeconds,
              wall.cpuSeconds * 1000 / (mib(package.imageBytes) * count));
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

int runBench(const BenchOptions& o) {
  const std::string dir = hxbench::makeWorkDir("hx-bench-parallel");
  hxbench::usePrivatePortsDir(dir + "/ports");
  const hxbench::BenchPackage package = hxbench::writeBenchPackage(dir + "/Firmware.BIN", o.run.packageMiB, kPageSize);
  std::printf("package %.1f MiB, %.1f MiB of images sent to each phone; %d phones on usb-fs links\n",
              mib(package.layout.packageSize), mib(package.imageBytes), o.phones);
  std::fflush(stdout);
  hxbench::PhoneFlashSetup setup;
  setup.workDir = dir;
  setup.timeScale = kTimeScale;
  setup.keepFiles = o.run.keep;

  std::vector<double> aloneSeconds, wallSeconds, efficiencies;
  for (int round = 1; round <= o.run.rounds; ++round) {
    Steps aloneSteps;
    const Span alone = flashAlone(package, setup, round, &aloneSteps);
    std::fflush(stdout);
    std::vector<Steps> togetherSteps;
    const Span wall = flashTogether(package, setup, round, o.phones, &togetherSteps);
    aloneSeconds.push_back(alone.seconds);
    wallSeconds.push_back(wall.seconds);
    efficiencies.push_back(alone.seconds / wall.seconds);
    std::printf("round %d efficiency %.4f\n", round, efficiencies.back());
    printStepComparison(aloneSteps, togetherSteps);
    std::fflush(stdout);
  }
  hxbench::finishWorkDir(dir, o.run.keep);
  hxbench::printRounds("one phone s", aloneSeconds, 3);
  hxbench::printRounds("wall of " + std::to_string(o.phones) + " phones s", wallSeconds, 3);
  hxbench::printRounds("parallel efficiency", efficiencies, 4);
  hxbench::printFigure("parallel-efficiency", efficiencies, 4, hxbench::noGoalSet());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  return hxbench::runBenchmark("bench_parallel_scaling", [&] { return runBench(parseArguments(argc, argv)); });
}
