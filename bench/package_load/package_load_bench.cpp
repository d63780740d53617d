// Builds a 256 MiB package, then measures, each in a forked child so that
// neither the builder's nor the other measurement's memory counts:
//   - a plain read of the whole file into one buffer (the baseline),
//   - the module's package load of the same file.
// The two alternate, round by round (read, load, read, load, ...: three
// rounds by default), so that both see the machine as it is at the time.
// Prints each round, the medians with their ranges, and as its last two lines
// (medians of the rounds)
//   load-time-ratio X (goal <= 1.5)     load time / the same round's plain read time
//   peak-memory-ratio Y (goal <= 1.3)   peak resident memory of the load / file size
//
//   bench_package_load [--rounds N]
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench_files.h"
#include "bench_run.h"
#include "package/package_records.h"
#include "pkgbuild/package_builder.h"

namespace {

constexpr uint64_t kPackageBytes = 256ull << 20;
constexpr int kDefaultRounds = 3;

struct Measurement {
  double seconds = 0;
  long peakKiB = 0;  // ru_maxrss of the child
  bool ok = false;
};

// Runs `work` in a child; the child sends back its duration and peak RSS.
Measurement inChild(const std::function<bool()>& work) {
  int fds[2];
  if (pipe(fds) != 0) std::abort();
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    const auto start = std::chrono::steady_clock::now();
    Measurement m;
    m.ok = work();
    m.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    m.peakKiB = usage.ru_maxrss;
    if (write(fds[1], &m, sizeof m) != sizeof m) _exit(2);
    _exit(0);
  }
  close(fds[1]);
  Measurement m;
  if (read(fds[0], &m, sizeof m) != sizeof m) m.ok = false;
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return m;
}

bool plainRead(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const off_t size = lseek(fd, 0, SEEK_END);
  auto buffer = std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(size));
  size_t done = 0;
  while (done < static_cast<size_t>(size)) {
    const ssize_t got = pread(fd, buffer.get() + done, static_cast<size_t>(size) - done, static_cast<off_t>(done));
    if (got <= 0) break;
    done += static_cast<size_t>(got);
  }
  close(fd);
  volatile uint8_t sink = buffer[done / 2];
  (void)sink;
  return done == static_cast<size_t>(size);
}

bool moduleLoad(const std::string& path) {
  hx::PackageRecords records;
  return hx::loadPackage(path, records) && records.fsImages[0].data != nullptr;
}

int parseRounds(int argc, char** argv) {
  if (argc == 1) return kDefaultRounds;
  const int rounds = argc == 3 && std::string(argv[1]) == "--rounds" ? std::atoi(argv[2]) : 0;
  if (rounds < 1 || rounds > 20) throw std::invalid_argument("usage: bench_package_load [--rounds N (1..20)]");
  return rounds;
}

// The figures of the rounds, one value per round each.
struct Rounds {
  std::vector<double> readSeconds, loadSeconds, readPeakMiB, loadPeakMiB, timeRatios, memoryRatios;
};

// Alternates a plain read and a load of `path`; false when one failed.
bool measureRounds(const std::string& path, int count, uint64_t fileSize, Rounds& r) {
  for (int round = 1; round <= count; ++round) {
    const Measurement read = inChild([&] { return plainRead(path); });
    const Measurement load = inChild([&] { return moduleLoad(path); });
    if (!read.ok || !load.ok) {
      std::fprintf(stderr, "round %d: measurement failed (read %d, load %d)\n", round, read.ok, load.ok);
      return false;
    }
    r.readSeconds.push_back(read.seconds);
    r.loadSeconds.push_back(load.seconds);
    r.readPeakMiB.push_back(read.peakKiB / 1024.0);
    r.loadPeakMiB.push_back(load.peakKiB / 1024.0);
    r.timeRatios.push_back(load.seconds / read.seconds);
    r.memoryRatios.push_back(load.peakKiB * 1024.0 / static_cast<double>(fileSize));
    std::printf("round %d: plain read %.3f s, peak %.1f MiB; package load %.3f s, peak %.1f MiB; "
                "time ratio %.2f, memory ratio %.2f\n",
                round, read.seconds, r.readPeakMiB.back(), load.seconds, r.loadPeakMiB.back(), r.timeRatios.back(),
                r.memoryRatios.back());
    std::fflush(stdout);
  }
  return true;
}

int runBench(int rounds) {
  const std::string path =
      (std::filesystem::temp_directory_path() / ("hx-bench-package-" + std::to_string(getpid()) + ".bin")).string();
  // The builder runs in a child too, so the measuring process stays small.
  const Measurement built = inChild([&] {
    const auto pkg = pkgbuild::build(pkgbuild::sizedRecipe(kPackageBytes));
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(pkg.bytes.data()), static_cast<std::streamsize>(pkg.bytes.size()));
    return static_cast<bool>(out);
  });
  if (!built.ok) {
    std::fprintf(stderr, "cannot build the package\n");
    std::filesystem::remove(path);
    return 1;
  }
  const uint64_t fileSize = std::filesystem::file_size(path);
  std::printf("package %.1f MiB\n", static_cast<double>(fileSize) / (1 << 20));
  plainRead(path);  // the file is in the page cache for both measurements
  Rounds r;
  const bool measured = measureRounds(path, rounds, fileSize, r);
  std::filesystem::remove(path);
  if (!measured) return 1;
  hxbench::printRounds("plain read s", r.readSeconds, 3);
  hxbench::printRounds("package load s", r.loadSeconds, 3);
  hxbench::printRounds("plain read peak MiB", r.readPeakMiB, 1);
  hxbench::printRounds("package load peak MiB", r.loadPeakMiB, 1);
  hxbench::printRounds("load time ratio", r.timeRatios, 2);
  hxbench::printRounds("peak memory ratio", r.memoryRatios, 2);
  hxbench::printFigure("load-time-ratio", r.timeRatios, 2, hxbench::atMost(1.5));
  hxbench::printFigure("peak-memory-ratio", r.memoryRatios, 2, hxbench::atMost(1.3));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  return hxbench::runBenchmark("bench_package_load", [&] { return runBench(parseRounds(argc, argv)); });
}
