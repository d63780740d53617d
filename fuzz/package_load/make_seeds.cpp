// Writes the seed packages of the package-load fuzz target into a directory:
// builder-made packages with both page sizes, split (5.2.0) and unsplit FS.
#include <cstdio>
#include <fstream>
#include <string>

#include "pkgbuild/package_builder.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s CORPUS_DIR\n", argv[0]);
    return 2;
  }
  const std::string dir = argv[1];
  for (uint32_t pageSize : {512u, 2048u}) {
    for (bool split : {true, false}) {
      auto recipe = pkgbuild::tinyRecipe(pageSize);
      if (!split) recipe.fs[0].version = {5, 2, 1};
      if (pageSize == 2048) recipe.blockKiB = 16;  // small blocks keep the seeds small
      const auto pkg = pkgbuild::build(recipe);
      const std::string path = dir + "/seed-" + std::to_string(pageSize) + (split ? "-split" : "-raw") + ".bin";
      std::ofstream out(path, std::ios::binary);
      out.write(reinterpret_cast<const char*>(pkg.bytes.data()), static_cast<std::streamsize>(pkg.bytes.size()));
      std::printf("%s %zu bytes\n", path.c_str(), pkg.bytes.size());
    }
  }
  return 0;
}
