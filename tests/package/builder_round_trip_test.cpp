// Packages from the package builder go through the module's reader and come
// out as exactly the images the builder says it wrote.
#include <gtest/gtest.h>

#include <ostream>

#include <algorithm>
#include <array>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "package/package_image.h"
#include "package/package_records.h"
#include "package/package_source.h"
#include "package/package_verdict.h"
#include "pkgbuild/package_builder.h"
#include "pkgbuild/package_mutations.h"
#include "log_capture.h"

namespace hx {
namespace {

std::vector<uint8_t> bytesOf(const ImageBuffer& b) { return std::vector<uint8_t>(b.data, b.data + b.length); }

bool load(const pkgbuild::BuiltPackage& pkg, PackageRecords& records) {
  MemoryPackageSource source(pkg.bytes);
  hxtest::LogCapture capture;
  const bool ok = loadPackageFrom(source, "built package", records);
  return ok;
}

void expectRecordsMatch(const pkgbuild::BuiltPackage& pkg, const PackageRecords& records) {
  EXPECT_EQ(bytesOf(records.bootloader), pkg.bootloader());
  EXPECT_EQ(bytesOf(records.extBootloader), pkg.extBootloader());
  EXPECT_EQ(bytesOf(records.romImage), pkg.primaryRom());
  EXPECT_EQ(bytesOf(records.secondaryRomImage), pkg.secondaryRom());
  EXPECT_EQ(records.romImage.address, 0u);
  EXPECT_EQ(records.secondaryRomImage.address, 0x4000u);
  const auto& fsImages = pkg.layout.fsImages;
  ASSERT_EQ(records.fsImagesInPackage, fsImages.size());
  for (size_t k = 0; k < fsImages.size() && k < kFsImageSlots; ++k) {
    SCOPED_TRACE("FS image " + std::to_string(k));
    EXPECT_EQ(bytesOf(records.fsImages[k]), pkg.fsImage(k));
    EXPECT_EQ(records.fsImages[k].address, fsImages[k].address);
  }
}

struct RoundTrip {
  const char* name;
  uint32_t pageSize;
  std::array<uint8_t, 3> fsVersion;
};

// Test names and messages show the case by its name.
void PrintTo(const RoundTrip& c, std::ostream* out) { *out << c.name; }

class BuilderRoundTrip : public testing::TestWithParam<RoundTrip> {};

TEST_P(BuilderRoundTrip, ImagesAreExactlyTheBytesThatWentIn) {
  auto recipe = pkgbuild::tinyRecipe(GetParam().pageSize);
  for (auto& fs : recipe.fs) fs.version = GetParam().fsVersion;
  const auto pkg = pkgbuild::build(recipe);
  PackageRecords records;
  ASSERT_TRUE(load(pkg, records)) << records.loadFailure;
  expectRecordsMatch(pkg, records);
  EXPECT_EQ(records.contents->geometry.pageSize, GetParam().pageSize);
  EXPECT_EQ(records.contents->entries.size(), pkg.layout.entries.size());
  const auto verdict = judgePackage(records);
  EXPECT_TRUE(verdict.downloadable) << verdict.reason;
}

INSTANTIATE_TEST_SUITE_P(PageSizesAndFsKinds, BuilderRoundTrip,
                         testing::Values(RoundTrip{"p512_split", 512, {5, 2, 0}},
                                         RoundTrip{"p512_raw", 512, {5, 2, 1}},
                                         RoundTrip{"p2048_split", 2048, {5, 2, 0}},
                                         RoundTrip{"p2048_raw", 2048, {5, 2, 1}}),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(BuilderRoundTripMore, DefaultSampleWithGapsAndSeveralEntries) {
  auto recipe = pkgbuild::tinyRecipe(2048);
  recipe.fs[0].volumes[1].gapBlocksBefore = 2;
  recipe.fs[0].volumes[1].extraBytes = 1000;
  recipe.fs.push_back(recipe.fs[0]);
  recipe.fs[1].version = {5, 2, 1};
  recipe.entries.push_back(pkgbuild::EntryRecipe{8, 5000});
  recipe.entries.push_back(pkgbuild::EntryRecipe{10, 0, 1});
  recipe.entries.push_back(pkgbuild::EntryRecipe{9, 100});
  const auto pkg = pkgbuild::build(recipe);
  PackageRecords records;
  ASSERT_TRUE(load(pkg, records)) << records.loadFailure;
  expectRecordsMatch(pkg, records);
  EXPECT_EQ(records.fsImagesInPackage, 4u);
  EXPECT_TRUE(judgePackage(records).downloadable) << judgePackage(records).reason;
}

TEST(BuilderRoundTripMore, DefaultPackagesCopyImagesLongerThanOneReadChunk) {
  for (uint32_t pageSize : {512u, 2048u}) {
    pkgbuild::PackageRecipe recipe;
    recipe.pageSize = pageSize;
    const auto pkg = pkgbuild::build(recipe);
    ASSERT_GT(pkg.primaryRom().size(), 2u << 20);
    PackageRecords records;
    ASSERT_TRUE(load(pkg, records)) << records.loadFailure;
    expectRecordsMatch(pkg, records);
  }
}

TEST(BuilderRoundTripMore, MoreThanFourFsImagesLoadButAreRefused) {
  auto recipe = pkgbuild::tinyRecipe(512);
  recipe.fs[0].volumes.resize(5, recipe.fs[0].volumes[0]);
  const auto pkg = pkgbuild::build(recipe);
  PackageRecords records;
  ASSERT_TRUE(load(pkg, records)) << records.loadFailure;
  EXPECT_EQ(records.fsImagesInPackage, 5u);
  expectRecordsMatch(pkg, records);
  const auto verdict = judgePackage(records);
  EXPECT_FALSE(verdict.downloadable);
  EXPECT_NE(verdict.reason.find("5 FS images"), std::string::npos) << verdict.reason;
}

// The load counts the FS images once; the records that hold them, and those
// of them that have an address, follow from that count.
TEST(BuilderRoundTripMore, TheFsImageCountSaysWhichRecordsHoldAnImage) {
  for (uint32_t volumes : {0u, 3u, 5u, 7u}) {
    auto recipe = pkgbuild::tinyRecipe(512);
    recipe.fs[0].volumes.resize(volumes, recipe.fs[0].volumes[0]);
    if (volumes == 0) {
      recipe.fs.clear();
      recipe.entries.pop_back();
    }
    const auto pkg = pkgbuild::build(recipe);
    PackageRecords records;
    ASSERT_TRUE(load(pkg, records)) << records.loadFailure;
    ASSERT_EQ(records.fsImagesInPackage, volumes);
    const std::span<const ImageBuffer> held = heldFsImages(records);
    const std::span<const ImageBuffer> addressed = addressedFsImages(records);
    EXPECT_EQ(held.size(), std::min(volumes, kFsImageSlots)) << volumes;
    EXPECT_EQ(addressed.size(), std::min(volumes, kFsImageAddresses)) << volumes;
    EXPECT_EQ(yieldsMoreFsImagesThanAddresses(records), volumes > kFsImageAddresses) << volumes;
    EXPECT_EQ(addressed.data(), records.fsImages) << "in package order, from the first";
    for (const ImageBuffer& fs : held) EXPECT_NE(fs.data, nullptr) << volumes;
    for (uint32_t k = static_cast<uint32_t>(held.size()); k < kFsImageSlots; ++k)
      EXPECT_EQ(records.fsImages[k].data, nullptr) << volumes << ": record " << k << " is empty";
  }
}

TEST(BuilderRoundTripMore, HostileMutationsFailTheLoad) {
  struct Case {
    const char* name;
    std::function<void(pkgbuild::BuiltPackage&)> mutate;
    const char* reason;
  };
  const std::vector<Case> cases = {
      {"page size 0", [](auto& p) { pkgbuild::patchLe16(p, 0, 0); }, "geometry"},
      {"block size 0", [](auto& p) { pkgbuild::patchLe16(p, 2, 0); }, "geometry"},
      {"span below 128", [](auto& p) { pkgbuild::patchLe32(p, p.layout.spanOffset, 100); }, "below 128"},
      {"entry past the end", [](auto& p) { pkgbuild::patchEntry(p, 3, {.firstBlock = 1u << 20}); }, "past the end"},
      {"region count 0",
       [](auto& p) { pkgbuild::patchLe32(p, p.layout.fsEntries[0].headerFileOffset + 4, 0); }, "region count"},
      {"no terminator", [](auto& p) { pkgbuild::removeTerminator(p); }, "terminator"},
      {"truncated", [](auto& p) { pkgbuild::truncatePackage(p, p.bytes.size() - 1); }, "past the end"},
      {"ext length 4 GiB", [](auto& p) { pkgbuild::patchLe32(p, p.layout.trailerOffset + 20, 0xFFFFFFFF); },
       "ext bootloader"},
      {"image length 4 GiB",
       [](auto& p) { pkgbuild::patchLe32(p, p.layout.imageTableOffset + 20, 0xFFFFFFFF); }, "ROM image"},
  };
  for (const auto& c : cases) {
    auto pkg = pkgbuild::build(pkgbuild::tinyRecipe(2048));
    c.mutate(pkg);
    PackageRecords records;
    EXPECT_FALSE(load(pkg, records)) << c.name;
    EXPECT_NE(records.loadFailure.find(c.reason), std::string::npos) << c.name << ": " << records.loadFailure;
  }
}

TEST(BuilderRoundTripMore, RawFsImageOfAnotherVersionIsJudgedOnlyAsFarAsItsFsHeader) {
  // Cut to two blocks, the image still holds its info block: it is skipped,
  // however short of its data blocks. Cut to one, its FsHeader is gone.
  for (const uint32_t blocks : {2u, 1u}) {
    auto recipe = pkgbuild::tinyRecipe(2048);
    recipe.fs[0].version = {5, 2, 1};
    auto pkg = pkgbuild::build(recipe);
    const uint32_t fsEntry = pkg.layout.fsEntries[0].entryIndex;
    pkgbuild::patchEntry(pkg, fsEntry, {.blockCount = blocks});
    PackageRecords records;
    ASSERT_TRUE(load(pkg, records)) << records.loadFailure;
    const auto verdict = judgePackage(records);
    EXPECT_EQ(verdict.downloadable, blocks == 2) << verdict.reason;
    if (blocks == 1) {
      EXPECT_NE(verdict.reason.find("info block"), std::string::npos) << verdict.reason;
    }
  }
}

}  // namespace
}  // namespace hx
