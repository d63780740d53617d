// hxflash make-package OUT [options]: writes a sample firmware package and,
// beside it, OUT.desc.json, the description it was built from.
#include <fmt/core.h>

#include <array>
#include <cstdio>
#include <exception>
#include <memory>
#include <string>

#include "commands/commands.h"
#include "pkgbuild/package_builder.h"

namespace hxflash {
namespace {

struct MakePackageOptions {
  std::string out;
  std::string fromDesc;
  uint32_t pageSize = 2048;
  uint32_t blockKiB = 0;
  double romMiB = 3.0;
  double secondaryRomKiB = 256.0;
  uint32_t volumes = 3;
  uint32_t volumeBlocks = 8;
  uint32_t regions = 4;
  uint32_t reservedPerRegion = 2;
  uint64_t seed = pkgbuild::PackageRecipe{}.seed;
  std::string fsVersion = "5.2.0";
  bool tiny = false;
  double sizeMiB = 0;
};

std::array<uint8_t, 3> parseVersion(const std::string& text) {
  unsigned a = 0, b = 0, c = 0;
  if (std::sscanf(text.c_str(), "%u.%u.%u", &a, &b, &c) != 3 || a > 255 || b > 255 || c > 255)
    throw CLI::ValidationError("--fs-version", "expected three numbers like 5.2.0");
  return {static_cast<uint8_t>(a), static_cast<uint8_t>(b), static_cast<uint8_t>(c)};
}

pkgbuild::PackageRecipe recipeFrom(const MakePackageOptions& o) {
  if (!o.fromDesc.empty()) return pkgbuild::readRecipe(o.fromDesc);
  if (o.sizeMiB > 0) {
    pkgbuild::PackageRecipe sized = pkgbuild::sizedRecipe(static_cast<uint64_t>(o.sizeMiB * 1024 * 1024), o.pageSize);
    sized.seed = o.seed;
    return sized;
  }
  pkgbuild::PackageRecipe recipe = o.tiny ? pkgbuild::tinyRecipe(o.pageSize) : pkgbuild::PackageRecipe{};
  recipe.pageSize = o.pageSize;
  recipe.blockKiB = o.blockKiB ? o.blockKiB : pkgbuild::defaultBlockKiB(o.pageSize);
  recipe.seed = o.seed;
  if (o.tiny) return recipe;
  for (pkgbuild::EntryRecipe& e : recipe.entries) {
    if (e.type == 4) e.length = static_cast<uint32_t>(o.romMiB * 1024 * 1024);
    if (e.type == 5) e.length = static_cast<uint32_t>(o.secondaryRomKiB * 1024);
  }
  pkgbuild::FsEntryRecipe& fs = recipe.fs.at(0);
  fs.version = parseVersion(o.fsVersion);
  fs.regionCount = o.regions;
  fs.reservedPerRegion = o.reservedPerRegion;
  fs.volumes.assign(o.volumes, pkgbuild::FsVolumeRecipe{o.volumeBlocks});
  return recipe;
}

int run(const MakePackageOptions& o) {
  try {
    const pkgbuild::PackageRecipe recipe = recipeFrom(o);
    const pkgbuild::BuiltPackage pkg = pkgbuild::writePackage(o.out, recipe);
    const auto& l = pkg.layout;
    fmt::print("wrote {} ({} bytes, {} blocks of {} raw bytes, page {} + {} spare)\n", o.out, l.packageSize,
               l.totalBlocks, l.geometry.rawBlockSize, l.geometry.pageSize, l.geometry.spareSize);
    fmt::print("  bootloader {} bytes, ext bootloader {} bytes\n", l.bootloader.length, l.extBootloader.length);
    fmt::print("  primary ROM {} bytes, secondary ROM {} bytes\n", l.primaryRom.length, l.secondaryRom.length);
    fmt::print("  FS area 0x{:X} + 0x{:X}, {} FS image(s)\n", l.fsAreaStart, l.fsAreaLength, l.fsImages.size());
    fmt::print("  description {}\n", pkgbuild::descPathFor(o.out));
    return 0;
  } catch (const std::exception& e) {
    fmt::print(stderr, "make-package: {}\n", e.what());
    return 1;
  }
}

}  // namespace

void registerMakePackageCommand(CLI::App& app, int& exitCode) {
  auto opts = std::make_shared<MakePackageOptions>();
  CLI::App* cmd = app.add_subcommand("make-package", "Write a sample firmware package and its OUT.desc.json");
  cmd->add_option("OUT", opts->out, "package file to write")->required();
  cmd->add_option("--from-desc", opts->fromDesc, "build from a description (JSON) instead of the options");
  cmd->add_option("--page-size", opts->pageSize, "NAND page size")->check(CLI::IsMember({512, 2048}));
  cmd->add_option("--block-kib", opts->blockKiB, "block size in KiB (default 16 for 512-byte pages, 128 for 2048)");
  cmd->add_option("--rom-mib", opts->romMiB, "primary ROM size in MiB")->check(CLI::Range(0.01, 3500.0));
  cmd->add_option("--secondary-rom-kib", opts->secondaryRomKiB, "secondary ROM size in KiB")
      ->check(CLI::Range(0.0, 1048576.0));
  cmd->add_option("--fs-volumes", opts->volumes, "FS volumes")->check(CLI::Range(1, 8));
  cmd->add_option("--fs-volume-blocks", opts->volumeBlocks, "blocks per FS volume")->check(CLI::Range(0, 1 << 20));
  cmd->add_option("--fs-version", opts->fsVersion, "FsHeader version (5.2.0 splits the entry per volume)");
  cmd->add_option("--regions", opts->regions, "region tags of the FS mapping")->check(CLI::Range(1, 8));
  cmd->add_option("--reserved-per-region", opts->reservedPerRegion, "reserved blocks per region (region 0 needs 2 for the info block of a second FS image)")
      ->check(CLI::Range(0, 4096));
  cmd->add_option("--seed", opts->seed, "content seed");
  cmd->add_flag("--tiny", opts->tiny, "a package of a few blocks (ignores the size options)");
  cmd->add_option("--size-mib", opts->sizeMiB, "a package of about this size, grown in the first FS volume "
                                               "and the ROM (ignores the other size options)")
      ->check(CLI::Range(1.0, 4096.0));
  cmd->callback([opts, &exitCode] { exitCode = run(*opts); });
}

}  // namespace hxflash
