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
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "child_process.h"
#include "download_window.h"
#include "flash_runner.h"
#include "image_bytes.h"
#include "pkgbuild/package_builder.h"
#include "raw_pty_throughput.h"

namespace {

constexpr uint32_t kComPort = 41;
constexpr uint32_t kPageSize = 2048;
constexpr size_t kRawChunk = 4096;
constexpr int kRawRounds = 3;
// Before it the agent connection runs, with fixed waits of the module clock.
constexpr const char* kTransferStart = "Start Write Bootloader";
// The reset countdown (and the module's other fixed waits) scaled down; the
// countdown is outside the measured window anyway.
constexpr double kTimeScale = 0.05;
// The phone appears after the module has loaded the package and its session
// has begun waiting (a session first waits for an earlier phone to go).
constexpr int kPlugDelayMs = 2500;

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

std::string makeWorkDir() {
  std::string templ = (std::filesystem::temp_directory_path() / "hx-bench-flash-XXXXXX").string();
  if (!mkdtemp(templ.data())) throw std::runtime_error("cannot make a working directory");
  return templ;
}

// A ports directory of this run's own (owned by us, closed to others).
void usePrivatePortsDir(const std::string& dir) {
  std::filesystem::create_directories(dir);
  std::filesystem::permissions(dir, std::filesystem::perms::owner_all, std::filesystem::perm_options::replace);
  ::setenv("HXFLASH_PORTS_DIR", dir.c_str(), 1);
}

uint32_t phoneBlocks(const pkgbuild::PackageLayout& layout) {
  uint64_t last = (layout.fsAreaStart + layout.fsAreaLength) / layout.geometry.blockDataSize;
  last = std::max<uint64_t>(last, (layout.fsFormatAreaStart + layout.fsFormatAreaLength) / layout.geometry.blockDataSize);
  return static_cast<uint32_t>(last + 32);
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

// The module logs to standard output; while it flashes, that goes to a file so
// that this program's own output stays readable.
class StdoutToFile {
 public:
  explicit StdoutToFile(const std::string& path) {
    std::fflush(stdout);
    m_saved = ::dup(STDOUT_FILENO);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (m_saved < 0 || fd < 0) throw std::runtime_error("cannot open " + path);
    ::dup2(fd, STDOUT_FILENO);
    ::close(fd);
  }
  ~StdoutToFile() {
    std::fflush(stdout);
    ::dup2(m_saved, STDOUT_FILENO);
    ::close(m_saved);
  }
  StdoutToFile(const StdoutToFile&) = delete;
  StdoutToFile& operator=(const StdoutToFile&) = delete;

 private:
  int m_saved = -1;
};

// One phone flashed: whether it worked, and the marks of its download.
struct FlashRound {
  bool succeeded = false;
  int phoneStatus = -1;
  bool verified = false;
  hxbench::DownloadWindow window;
};

bool verifyPhone(const std::string& dir, const std::string& package, const std::string& dump) {
  const std::string report = dir + "/verify.txt";
  hxflash::ChildProcess verify({HX_BENCH_HXPHONE, "verify", "--package", package, "--dump", dump}, report, report);
  return verify.wait() == 0;
}

// Flashes one fresh phone. The module reads its package once in its life and
// stays loaded, so each round loads its own copy of the module file.
void flashOnePhone(int round, const std::string& dir, const std::string& package,
                   const pkgbuild::PackageLayout& layout, const BenchOptions& o, FlashRound& outcome) {
  const std::string module = dir + "/module-" + std::to_string(round) + ".so";
  std::filesystem::copy_file(o.module, module, std::filesystem::copy_options::overwrite_existing);
  const std::string dump = dir + "/phone.nand";
  hxflash::ChildProcess phone({HX_BENCH_HXPHONE, "run", "--port", std::to_string(kComPort), "--page-size",
                               std::to_string(kPageSize), "--blocks", std::to_string(phoneBlocks(layout)),
                               "--plug-delay-ms", std::to_string(kPlugDelayMs), "--dump", dump,
                               "--no-controlling-terminal"},
                              dir + "/phone.log", dir + "/phone.log");
  hxflash::FlashOptions options;
  options.modulePath = module;
  options.packagePath = package;
  options.comPorts = {kComPort};
  options.timeScale = kTimeScale;
  options.onEvent = [&outcome](uint32_t, int, const hxflash::HostEvent& e) { outcome.window.onEvent(e); };
  std::vector<hxflash::PhoneResult> results;
  {
    StdoutToFile log(dir + "/module.log");
    results = hxflash::FlashRun(options).run();
  }
  outcome.succeeded = results.size() == 1 && results[0].succeeded;
  outcome.phoneStatus = phone.wait();  // the phone unplugs after its reset
  outcome.verified = outcome.succeeded && outcome.phoneStatus == 0 && outcome.window.complete() &&
                     verifyPhone(dir, package, dump);
  std::error_code ec;
  std::filesystem::remove(dump, ec);
  if (!o.keep) std::filesystem::remove(module, ec);
}

double mib(uint64_t bytes) { return static_cast<double>(bytes) / (1 << 20); }

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

void printSteps(const std::vector<hxbench::StepMark>& marks) {
  for (size_t i = 0; i + 1 < marks.size(); ++i) {
    const double seconds = std::chrono::duration<double>(marks[i + 1].when - marks[i].when).count();
    const double cpu = marks[i + 1].cpuSeconds - marks[i].cpuSeconds;
    std::printf("    %-28s %8.3f s   host cpu %7.3f s\n", marks[i].name.c_str(), seconds, cpu);
  }
}

int runBench(const BenchOptions& o) {
  const std::string dir = makeWorkDir();
  usePrivatePortsDir(dir + "/ports");
  const std::string package = dir + "/Firmware.BIN";
  pkgbuild::PackageLayout layout;
  uint64_t sent = 0;
  {
    const pkgbuild::BuiltPackage built =
        pkgbuild::writePackage(package, pkgbuild::sizedRecipe(o.packageMiB << 20, kPageSize));
    layout = built.layout;
    sent = hxbench::imageBytesSent(built);
  }
  std::printf("package %.1f MiB, %zu FS images, %.1f MiB of images sent to the phone\n", mib(layout.packageSize),
              layout.fsImages.size(), mib(sent));

  std::vector<double> rates, rawRates, ratios, cpuPerMiB;
  for (int round = 1; round <= o.rounds; ++round) {
    // The baseline right before each flash, so that both see the same machine.
    const hxbench::RawPtyRun raw = rawPtyBaseline(sent);
    rawRates.push_back(mib(sent) / raw.seconds);
    std::printf("round %d raw pty: %.1f MiB in %zu-byte writes in %.3f s = %.1f MiB/s (writer cpu %.2f ms per MiB)\n",
                round, mib(sent), kRawChunk, raw.seconds, rawRates.back(), raw.writerCpuSeconds * 1000 / mib(sent));
    std::fflush(stdout);

    FlashRound flash;
    flashOnePhone(round, dir, package, layout, o, flash);
    if (!flash.verified) {
      std::fprintf(stderr, "flash %d failed (download %s, phone exit %d, NAND not verified); files in %s\n", round,
                   flash.succeeded ? "succeeded" : "failed", flash.phoneStatus, dir.c_str());
      return 1;
    }
    const auto download = flash.window.untilCountdown("connected");
    const auto transfer = flash.window.untilCountdown(kTransferStart);
    rates.push_back(mib(sent) / transfer.seconds);
    ratios.push_back(rates.back() / rawRates.back());
    cpuPerMiB.push_back(transfer.cpuSeconds * 1000 / mib(sent));
    std::printf("round %d flash: Download %.3f s (host cpu %.3f s), of which the images %.3f s = %.2f MiB/s, "
                "host cpu %.3f s = %.2f ms per MiB, %.0f host waits per MiB; NAND verified\n",
                round, download.seconds, download.cpuSeconds, transfer.seconds, rates.back(), transfer.cpuSeconds,
                cpuPerMiB.back(), static_cast<double>(transfer.waits) / mib(sent));
    printSteps(flash.window.marks());
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
