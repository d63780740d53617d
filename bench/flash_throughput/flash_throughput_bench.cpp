// Flashes a large package onto a virtual phone through the real module over a
// pseudo-terminal, and measures in the same run the raw throughput of a pty
// pair moving the same number of bytes. The phone is an hxphone process of its
// own, so this process's CPU time is the host's alone.
//
// Each round (five by default) flashes a fresh phone and checks its NAND with
// `hxphone verify`. Download is timed up to the first "Waiting for Reset"
// report, so the reset countdown is not counted; the throughput counts from
// "Start Write Bootloader" on, since the agent connection before it holds fixed
// waits of the module clock (scaled here) that move no image bytes.
//
// Prints the figures, the time and host CPU of each download step, and as its
// last two lines
//   flash-throughput-ratio X   (image MiB per second of transfer / raw pty MiB per second,
//                               the baseline measured right before each flash)
//   host-cpu-ms-per-mib Y      (host user+system CPU during the transfer per MiB of images sent)
// both the median of the rounds.
//
//   bench_flash_throughput [--mib N] [--rounds N] [--module FILE] [--keep]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench_files.h"
#include "phone_flash.h"
#include "raw_pty_throughput.h"

namespace {

using hxbench::median;
using hxbench::mib;

constexpr uint32_t kComPort = 41;
constexpr uint32_t kPageSize = 2048;
constexpr size_t kRawChunk = 4096;
constexpr int kRawRounds = 3;
// Before it the agent connection runs, with fixed waits of the module clock.
constexpr const char* kTransferStart = "Start Write Bootloader";
// The reset countdown (and the module's other fixed waits) scaled down; the
// countdown is outside the measured window anyway.
constexpr double kTimeScale = 0.05;

struct BenchOptions {
  uint64_t packageMiB = 64;
  int rounds = 5;
  std::string module = HX_BENCH_MODULE;  // another build of the module, to compare
  bool keep = false;  // keep the package, the module copies and the logs
};

BenchOptions parseArguments(int argc, char** argv) {
  BenchOptions o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--mib" && i + 1 < argc) {
      o.packageMiB = std::strtoull(argv[++i], nullptr, 10);
      if (o.packageMiB < 1 || o.packageMiB > 1024) throw std::invalid_argument("--mib takes 1..1024");
    } else if (a == "--rounds" && i + 1 < argc) {
      o.rounds = std::atoi(argv[++i]);
      if (o.rounds < 1 || o.rounds > 20) throw std::invalid_argument("--rounds takes 1..20");
    } else if (a == "--module" && i + 1 < argc) {
      o.module = argv[++i];
    } else if (a == "--keep") {
      o.keep = true;
    } else {
      throw std::invalid_argument("usage: bench_flash_throughput [--mib N] [--rounds N] [--module FILE] [--keep]");
    }
  }
  return o;
}

// Median of the raw pty rounds by time.
hxbench::RawPtyRun rawPtyBaseline(uint64_t bytes) {
  std::vector<hxbench::RawPtyRun> runs;
  for (int i = 0; i < kRawRounds; ++i) {
    const hxbench::RawPtyRun run = hxbench::measureRawPty(bytes, kRawChunk);
    if (!run.ok) throw std::runtime_error("the raw pty transfer failed");
    runs.push_back(run);
  }
  std::sort(runs.begin(), runs.end(), [](const auto& a, const auto& b) { return a.seconds < b.seconds; });
  return runs[runs.size() / 2];
}

void printSteps(const std::vector<hxbench::StepMark>& marks) {
  for (size_t i = 0; i + 1 < marks.size(); ++i) {
    const double seconds = std::chrono::duration<double>(marks[i + 1].when - marks[i].when).count();
    const double cpu = marks[i + 1].cpuSeconds - marks[i].cpuSeconds;
    std::printf("    %-28s %8.3f s   host cpu %7.3f s\n", marks[i].name.c_str(), seconds, cpu);
  }
}

int runBench(const BenchOptions& o) {
  const std::string dir = hxbench::makeWorkDir("hx-bench-flash");
  hxbench::usePrivatePortsDir(dir + "/ports");
  const hxbench::BenchPackage package = hxbench::writeBenchPackage(dir + "/Firmware.BIN", o.packageMiB, kPageSize);
  const uint64_t sent = package.imageBytes;
  std::printf("package %.1f MiB, %zu FS images, %.1f MiB of images sent to the phone\n",
              mib(package.layout.packageSize), package.layout.fsImages.size(), mib(sent));
  hxbench::PhoneFlashSetup setup;
  setup.workDir = dir;
  setup.module = o.module;
  setup.timeScale = kTimeScale;
  setup.keepFiles = o.keep;

  std::vector<double> rates, rawRates, ratios, cpuPerMiB;
  for (int round = 1; round <= o.rounds; ++round) {
    // The baseline right before each flash, so that both see the same machine.
    const hxbench::RawPtyRun raw = rawPtyBaseline(sent);
    rawRates.push_back(mib(sent) / raw.seconds);
    std::printf("round %d raw pty: %.1f MiB in %zu-byte writes in %.3f s = %.1f MiB/s (writer cpu %.2f ms per MiB)\n",
                round, mib(sent), kRawChunk, raw.seconds, rawRates.back(), raw.writerCpuSeconds * 1000 / mib(sent));
    std::fflush(stdout);

    std::vector<std::unique_ptr<hxbench::FlashedPhone>> phones;
    phones.push_back(hxbench::phoneOn(kComPort));
    if (!hxbench::flashPhones(package, setup, round, phones)) {
      const hxbench::FlashedPhone& flash = *phones[0];
      std::fprintf(stderr, "flash %d failed (download %s, phone exit %d, NAND not verified); files in %s\n", round,
                   flash.succeeded ? "succeeded" : "failed", flash.phoneStatus, dir.c_str());
      return 1;
    }
    const hxbench::DownloadWindow& window = phones[0]->window;
    const auto download = window.untilCountdown("connected");
    const auto transfer = window.untilCountdown(kTransferStart);
    rates.push_back(mib(sent) / transfer.seconds);
    ratios.push_back(rates.back() / rawRates.back());
    cpuPerMiB.push_back(transfer.cpuSeconds * 1000 / mib(sent));
    std::printf("round %d flash: Download %.3f s (host cpu %.3f s), of which the images %.3f s = %.2f MiB/s, "
                "host cpu %.3f s = %.2f ms per MiB, %.0f host waits per MiB; NAND verified\n",
                round, download.seconds, download.cpuSeconds, transfer.seconds, rates.back(), transfer.cpuSeconds,
                cpuPerMiB.back(), static_cast<double>(transfer.waits) / mib(sent));
    printSteps(window.marks());
    std::fflush(stdout);
  }
  if (o.keep) {
    std::printf("files in %s\n", dir.c_str());
  } else {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
  std::printf("medians of %d rounds: flash %.2f MiB/s, raw pty %.1f MiB/s\n", o.rounds, median(rates),
              median(rawRates));
  std::printf("flash-throughput-ratio %.4f\n", median(ratios));
  std::printf("host-cpu-ms-per-mib %.2f\n", median(cpuPerMiB));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return runBench(parseArguments(argc, argv));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_flash_throughput: %s\n", e.what());
    return 2;
  }
}
