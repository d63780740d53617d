// The description: deterministic bytes, JSON round trip, files, refusals.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "pkgbuild/package_builder.h"

namespace {

TEST(PackageRecipe, SameRecipeGivesSameBytesAndSeedChangesContentNotGeometry) {
  for (uint32_t pageSize : {512u, 2048u}) {
    const auto recipe = pkgbuild::tinyRecipe(pageSize);
    const auto a = pkgbuild::build(recipe);
    const auto b = pkgbuild::build(recipe);
    EXPECT_TRUE(a.bytes == b.bytes);

    auto other = recipe;
    other.seed ^= 1;
    const auto c = pkgbuild::build(other);
    ASSERT_EQ(c.bytes.size(), a.bytes.size());
    EXPECT_NE(c.primaryRom(), a.primaryRom());
    EXPECT_NE(c.bootloader(), a.bootloader());
    EXPECT_FALSE(std::equal(c.fsDataBlock(0, 0).begin(), c.fsDataBlock(0, 0).end(), a.fsDataBlock(0, 0).begin()));
    // Same geometry and placement: only the content moved.
    EXPECT_EQ(c.layout.fsAreaStart, a.layout.fsAreaStart);
    EXPECT_EQ(c.layout.fsImages.size(), a.layout.fsImages.size());
  }
}

TEST(PackageRecipe, GeometryByPageSize) {
  struct Row { uint32_t pageSize, blockKiB, spare, pages, raw; };
  for (const Row& r : {Row{512, 16, 16, 32, 16896}, Row{2048, 128, 64, 64, 135168}, Row{2048, 256, 64, 128, 270336},
                       Row{512, 32, 16, 64, 33792}}) {
    const auto g = pkgbuild::geometryFor(r.pageSize, r.blockKiB);
    EXPECT_EQ(g.spareSize, r.spare);
    EXPECT_EQ(g.pagesPerBlock, r.pages);
    EXPECT_EQ(g.rawBlockSize, r.raw);
    auto recipe = pkgbuild::tinyRecipe(r.pageSize);
    recipe.blockKiB = r.blockKiB;
    const auto pkg = pkgbuild::build(recipe);
    EXPECT_EQ(pkg.bytes[0] | (pkg.bytes[1] << 8), static_cast<int>(r.pageSize));
    EXPECT_EQ(pkg.bytes[2] | (pkg.bytes[3] << 8), static_cast<int>(r.blockKiB));
    EXPECT_EQ(pkg.bytes.size() % r.raw, 0u);
  }
  EXPECT_EQ(pkgbuild::defaultBlockKiB(512), 16u);
  EXPECT_EQ(pkgbuild::defaultBlockKiB(2048), 128u);
}

TEST(PackageRecipe, JsonRoundTripKeepsEveryField) {
  pkgbuild::PackageRecipe recipe = pkgbuild::tinyRecipe(512);
  recipe.seed = 0xFEDCBA9876543210ull;
  recipe.bootloader.infoVersion = 2;
  recipe.bootloader.recordLength = 120;
  recipe.romInfo.extraAreas = {{7, 8, 0x100000, 0x2000}};
  recipe.romInfo.areaCountOverride = 1;
  recipe.entries.push_back({8, 1234, 0, 0xFFFFFFFFll});
  recipe.fs[0].volumes[1].programmedPages = {0, 2, -1};
  recipe.fs[0].volumes[1].gapBlocksBefore = 3;
  recipe.fs[0].version = {5, 2, 1};
  recipe.fs[0].markInfoBlock = false;
  const nlohmann::json j = pkgbuild::toJson(recipe);
  const auto back = pkgbuild::fromJson(nlohmann::json::parse(j.dump()));
  EXPECT_EQ(pkgbuild::toJson(back), j);
  EXPECT_TRUE(pkgbuild::build(back).bytes == pkgbuild::build(recipe).bytes);
}

TEST(PackageRecipe, MissingJsonKeysTakeDefaults) {
  const auto recipe = pkgbuild::fromJson(nlohmann::json::parse(R"({"pageSize": 512, "fs": [{"regionCount": 2}]})"));
  EXPECT_EQ(recipe.pageSize, 512u);
  EXPECT_EQ(recipe.blockKiB, 0u);
  EXPECT_EQ(recipe.fs.at(0).regionCount, 2u);
  EXPECT_EQ(recipe.fs.at(0).volumes.size(), pkgbuild::FsEntryRecipe{}.volumes.size());
  EXPECT_EQ(recipe.entries.size(), pkgbuild::PackageRecipe{}.entries.size());
  EXPECT_THROW(pkgbuild::fromJson(nlohmann::json::parse(R"({"pageSize": "big"})")), nlohmann::json::exception);
}

TEST(PackageRecipe, WritePackageWritesBytesAndDescriptionThatRebuildsThem) {
  const auto dir = std::filesystem::temp_directory_path() / ("pkgbuild_test_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string path = (dir / "fw.bin").string();
  const auto recipe = pkgbuild::tinyRecipe(2048);
  const auto written = pkgbuild::writePackage(path, recipe);
  std::ifstream in(path, std::ios::binary);
  const std::vector<uint8_t> onDisk((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_TRUE(onDisk == written.bytes);
  EXPECT_EQ(pkgbuild::descPathFor(path), path + ".desc.json");
  const auto again = pkgbuild::build(pkgbuild::readRecipe(pkgbuild::descPathFor(path)));
  EXPECT_TRUE(again.bytes == written.bytes);
  EXPECT_THROW(pkgbuild::readRecipe((dir / "missing.json").string()), std::runtime_error);
  std::ofstream((dir / "bad.json").string()) << "{not json";
  EXPECT_THROW(pkgbuild::readRecipe((dir / "bad.json").string()), std::runtime_error);
  std::filesystem::remove_all(dir);
}

TEST(PackageRecipe, RefusesWhatCannotBeWritten) {
  auto bad = [](auto change) {
    auto s = pkgbuild::tinyRecipe(512);
    change(s);
    return s;
  };
  const std::vector<pkgbuild::PackageRecipe> refused = {
      bad([](auto& s) { s.pageSize = 1024; }),
      bad([](auto& s) { s.pageSize = 2048; s.blockKiB = 1; }),  // not a whole page
      bad([](auto& s) { s.entries.resize(27, pkgbuild::EntryRecipe{9, 10}); }),  // 30 entries
      bad([](auto& s) { s.romInfo.offset = s.entries[0].length - 100; }),      // record past the ROM's end
      bad([](auto& s) { s.fs[0].regionCount = 0; }),
      bad([](auto& s) { s.fs[0].regionCount = 9; }),
      bad([](auto& s) { s.fs[0].volumes.resize(9); }),
      bad([](auto& s) { s.fs[0].volumes.clear(); }),
      bad([](auto& s) { s.entries.push_back({10, 0, 5}); }),                  // no FS recipe 5
      bad([](auto& s) { s.fs[0].volumes[0].blocks = 20000; }),                // remap table beyond one info block
      bad([](auto& s) { s.romInfo.extraAreas.resize(6); }),                   // 8 areas
      bad([](auto& s) { s.fs[0].reservedPerRegion = 0x80000000u; }),          // regions x spares overflow 32 bits
      bad([](auto& s) { s.entries[0].length = 0xFFFFFFFFu; s.entries[1].length = 0xFFFF0000u; }),  // > 4 GiB
      bad([](auto& s) { s.entries[0].tableLength = 1ll << 32; }),
      bad([](auto& s) { s.romInfo.areaCountOverride = 70000; }),
  };
  for (size_t i = 0; i < refused.size(); ++i) EXPECT_THROW(pkgbuild::build(refused[i]), std::invalid_argument) << i;
  auto max = pkgbuild::tinyRecipe(512);
  max.entries.resize(26, pkgbuild::EntryRecipe{9, 10});  // 29 entries: the table still fits the area head
  EXPECT_NO_THROW(pkgbuild::build(max));
}

TEST(PackageRecipe, SizedRecipeReachesAboutTheSize) {
  for (uint32_t pageSize : {512u, 2048u}) {
    const uint64_t want = 24ull << 20;
    const auto pkg = pkgbuild::build(pkgbuild::sizedRecipe(want, pageSize));
    EXPECT_GT(pkg.bytes.size(), want * 9 / 10) << pageSize;
    EXPECT_LT(pkg.bytes.size(), want * 11 / 10) << pageSize;
  }
}

}  // namespace
