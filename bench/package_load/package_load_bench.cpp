// Builds a 256 MiB package, then measures, each in a forked child so that
// neither the builder's nor the other measurement's memory counts:
//   - a plain read of the whole file into one buffer (the baseline),
//   - the module's package load of the same file.
// Prints the figures, and as its last two lines
//   load-time-ratio X      (best load time / best plain read time)
//   peak-memory-ratio Y    (peak resident memory of the load / file size)
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

#include "package/package_records.h"
#include "pkgbuild/package_builder.h"

namespace {

constexpr uint64_t kPackageBytes = 256ull << 20;
constexpr int kRounds = 3;

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

Measurement best(const std::function<bool()>& work) {
  Measurement result;
  for (int i = 0; i < kRounds; ++i) {
    const Measurement m = inChild(work);
    if (!m.ok) return m;
    if (!result.ok || m.seconds < result.seconds) result.seconds = m.seconds;
    result.peakKiB = std::max(result.peakKiB, m.peakKiB);
    result.ok = true;
  }
  return result;
}

}  // namespace

int main() {
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
    return 1;
  }
  const uint64_t fileSize = std::filesystem::file_size(path);
  plainRead(path);  // the file is in the page cache for both measurements
  const Measurement read = best([&] { return plainRead(path); });
  const Measurement load = best([&] { return moduleLoad(path); });
  std::filesystem::remove(path);
  if (!read.ok || !load.ok) {
    std::fprintf(stderr, "measurement failed (read %d, load %d)\n", read.ok, load.ok);
    return 1;
  }
  const double fileMiB = static_cast<double>(fileSize) / (1 << 20);
  std::printf("package %.1f MiB\n", fileMiB);
  std::printf("plain read %.3f s, peak %.1f MiB\n", read.seconds, read.peakKiB / 1024.0);
  std::printf("package load %.3f s, peak %.1f MiB\n", load.seconds, load.peakKiB / 1024.0);
  std::printf("load-time-ratio %.2f\n", load.seconds / read.seconds);
  std::printf("peak-memory-ratio %.2f\n", load.peakKiB * 1024.0 / static_cast<double>(fileSize));
  return 0;
}
