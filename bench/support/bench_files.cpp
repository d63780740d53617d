#include "bench_files.h"

#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <stdexcept>

#include "image_bytes.h"

namespace hxbench {

std::string makeWorkDir(const std::string& name) {
  std::string templ = (std::filesystem::temp_directory_path() / (name + "-XXXXXX")).string();
  if (!mkdtemp(templ.data())) throw std::runtime_error("cannot make a working directory");
  return templ;
}

void usePrivatePortsDir(const std::string& dir) {
  std::filesystem::create_directories(dir);
  std::filesystem::permissions(dir, std::filesystem::perms::owner_all, std::filesystem::perm_options::replace);
  ::setenv("HXFLASH_PORTS_DIR", dir.c_str(), 1);
}

BenchPackage writeBenchPackage(const std::string& path, uint64_t mib, uint32_t pageSize) {
  const pkgbuild::BuiltPackage built = pkgbuild::writePackage(path, pkgbuild::sizedRecipe(mib << 20, pageSize));
  return {path, built.layout, imageBytesSent(built)};
}

uint32_t phoneBlocks(const pkgbuild::PackageLayout& layout) {
  uint64_t last = (layout.fsAreaStart + layout.fsAreaLength) / layout.geometry.blockDataSize;
  last = std::max<uint64_t>(last, (layout.fsFormatAreaStart + layout.fsFormatAreaLength) / layout.geometry.blockDataSize);
  return static_cast<uint32_t>(last + 32);
}

double mib(uint64_t bytes) { return static_cast<double>(bytes) / (1 << 20); }

double median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::string medianAndRange(const std::vector<double>& values, int digits) {
  if (values.empty()) return "no rounds";
  const auto [lo, hi] = std::minmax_element(values.begin(), values.end());
  char text[128];
  std::snprintf(text, sizeof text, "median %.*f (range %.*f..%.*f)", digits, median(values), digits, *lo, digits, *hi);
  return text;
}

}  // namespace hxbench
