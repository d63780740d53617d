#pragma once
// The files a benchmark run works with, and the arithmetic of its rounds.
#include <cstdint>
#include <string>
#include <vector>

#include "pkgbuild/package_builder.h"

namespace hxbench {

// A fresh working directory under the system's temporary folder.
std::string makeWorkDir(const std::string& name);

// A ports directory of this run's own (owned by us, closed to others), which
// the module and hxphone find through HXFLASH_PORTS_DIR.
void usePrivatePortsDir(const std::string& dir);

// A package of about `mib` MiB written to `path`, and what a flash sends of it.
struct BenchPackage {
  std::string path;
  pkgbuild::PackageLayout layout;
  uint64_t imageBytes = 0;  // bytes of images a flash sends to the phone
};
BenchPackage writeBenchPackage(const std::string& path, uint64_t mib, uint32_t pageSize);

// Blocks a virtual phone needs to hold the package's layout.
uint32_t phoneBlocks(const pkgbuild::PackageLayout& layout);

double mib(uint64_t bytes);
double median(std::vector<double> values);
// "median M (range LO..HI)" of the values, each with `digits` decimals.
std::string medianAndRange(const std::vector<double>& values, int digits);

}  // namespace hxbench
