// The layout the builder reports matches what the format's rules read from
// the bytes, for both page sizes and for split and raw FS entries.
#include <gtest/gtest.h>

#include <ostream>

#include <cstring>

#include "format_reader.h"
#include "pkgbuild/package_builder.h"

namespace {

using formatreader::le16;
using formatreader::le32;

struct Case {
  const char* name;
  pkgbuild::PackageRecipe recipe;
};

pkgbuild::PackageRecipe withRawFsEntry(pkgbuild::PackageRecipe s) {
  pkgbuild::FsEntryRecipe raw = s.fs[0];
  raw.version = {5, 2, 1};
  raw.volumes = {pkgbuild::FsVolumeRecipe{2}};
  s.fs.push_back(raw);
  s.entries.push_back({10, 0, 1});
  return s;
}

// Gaps between volumes, a volume length that is not whole blocks, five
// volumes (more FS images than have addresses), scattered partial pages.
pkgbuild::PackageRecipe withOddVolumes(pkgbuild::PackageRecipe s) {
  auto& v = s.fs[0].volumes;
  v[1].gapBlocksBefore = 2;
  v[2].extraBytes = 100;
  v.push_back(pkgbuild::FsVolumeRecipe{1});
  v.push_back(pkgbuild::FsVolumeRecipe{2});
  v.back().programmedPages = {2, 5};
  v.back().scatterPages = true;
  v.back().gapBlocksBefore = 1;
  return s;
}

std::vector<Case> cases() {
  return {{"tiny512", pkgbuild::tinyRecipe(512)},
          {"tiny2048", pkgbuild::tinyRecipe(2048)},
          {"default2048", pkgbuild::PackageRecipe{}},
          {"raw512", withRawFsEntry(pkgbuild::tinyRecipe(512))},
          {"raw2048", withRawFsEntry(pkgbuild::tinyRecipe(2048))},
          {"oddVolumes512", withOddVolumes(pkgbuild::tinyRecipe(512))},
          {"oddVolumes2048", withOddVolumes(pkgbuild::tinyRecipe(2048))}};
}

// Test names and messages show the case by its name.
void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

class LayoutMatchesBytes : public testing::TestWithParam<Case> {};

TEST_P(LayoutMatchesBytes, EntryTableAndGeometry) {
  const auto pkg = pkgbuild::build(GetParam().recipe);
  const formatreader::Package r(pkg.bytes);
  const auto& l = pkg.layout;
  EXPECT_EQ(r.rawBlockSize, l.geometry.rawBlockSize);
  EXPECT_EQ(pkg.bytes.size(), uint64_t{l.totalBlocks} * l.geometry.rawBlockSize);
  ASSERT_EQ(r.entries.size(), l.entries.size());
  for (size_t i = 0; i < r.entries.size(); ++i) {
    EXPECT_EQ(r.entries[i].firstBlock, l.entries[i].firstBlock) << i;
    EXPECT_EQ(r.entries[i].blockCount, l.entries[i].blockCount) << i;
    EXPECT_EQ(r.entries[i].type, l.entries[i].type) << i;
    // Entries follow each other without overlap and stay inside the package.
    if (i > 0) {
      EXPECT_EQ(l.entries[i].firstBlock, l.entries[i - 1].firstBlock + l.entries[i - 1].blockCount);
    }
  }
  EXPECT_EQ(l.entries.back().firstBlock + l.entries.back().blockCount, l.totalBlocks);
  EXPECT_EQ(l.terminatorOffset, 32 + 16 * l.entries.size());
}

TEST_P(LayoutMatchesBytes, BootloadersAsTheModuleCutsThem) {
  const auto& recipe = GetParam().recipe;
  const auto pkg = pkgbuild::build(recipe);
  const formatreader::Package r(pkg.bytes);
  const auto bootloader = r.bootloader();
  EXPECT_EQ(bootloader, pkg.bootloader());
  EXPECT_EQ(bootloader.size(), recipe.bootloader.length);
  EXPECT_EQ(r.extBootloader(), pkg.extBootloader());
  EXPECT_EQ(r.extLength(), recipe.extBootloaderLength);

  // BootloaderInfo: L in the last four bytes, the record before it.
  const uint32_t L = le32(&bootloader[bootloader.size() - 4]);
  EXPECT_EQ(L, pkg.layout.bootloaderInfoLength);
  const uint8_t* rec = &bootloader[bootloader.size() - 4 - L];
  EXPECT_EQ(std::memcmp(rec, "MTK_BLOADER_INFO_v", 18), 0);
  EXPECT_EQ(std::atoi(reinterpret_cast<const char*>(rec + 18)), static_cast<int>(recipe.bootloader.infoVersion));
  EXPECT_EQ(le32(rec + 88), recipe.bootloader.headerWord);
  EXPECT_EQ(le32(rec + 92), recipe.bootloader.checksumSeed);
  EXPECT_EQ(le32(rec + 96), recipe.bootloader.word96);
}

TEST_P(LayoutMatchesBytes, RomImagesAndRomInfo) {
  const auto& recipe = GetParam().recipe;
  const auto pkg = pkgbuild::build(recipe);
  const formatreader::Package r(pkg.bytes);
  const auto images = r.images();
  ASSERT_EQ(images.size(), pkg.layout.images.size());
  for (size_t i = 0; i < images.size(); ++i) EXPECT_EQ(images[i].second, pkg.pageData(pkg.layout.images[i].data));

  const auto rom = pkg.primaryRom();
  EXPECT_EQ(rom, images[0].second);
  EXPECT_EQ(pkg.secondaryRom().size(), recipe.entries[1].length);
  const std::string marker = "MTK_ROMINFO_v";
  const auto found = std::search(rom.begin(), rom.end(), marker.begin(), marker.end());
  ASSERT_NE(found, rom.end());
  const size_t at = static_cast<size_t>(found - rom.begin());
  EXPECT_EQ(at, pkg.layout.romInfoOffset);
  const uint8_t* ri = &rom[at];
  EXPECT_EQ(std::atoi(reinterpret_cast<const char*>(ri + 13)), static_cast<int>(recipe.romInfo.version));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(ri + 16)), recipe.romInfo.name);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(ri + 144)), recipe.romInfo.secondName);
  EXPECT_EQ(le16(ri + 210), 2);
  EXPECT_EQ(le32(ri + 236), pkg.layout.fsAreaStart);
  EXPECT_EQ(le32(ri + 240), pkg.layout.fsAreaLength);
  EXPECT_EQ(std::memcmp(ri + 332, "05200001", 8), 0);
  // The ROM area ends before the FS area begins.
  EXPECT_LE(le32(ri + 220) + le32(ri + 224), pkg.layout.fsAreaStart);
}

TEST_P(LayoutMatchesBytes, FsImagesAsTheModuleMakesThem) {
  const auto pkg = pkgbuild::build(GetParam().recipe);
  const formatreader::Package r(pkg.bytes);
  const auto images = r.fsImages();
  ASSERT_EQ(images.size(), pkg.layout.fsImages.size());
  for (size_t k = 0; k < images.size(); ++k) EXPECT_TRUE(images[k] == pkg.fsImage(k)) << "FS image " << k;
}

TEST_P(LayoutMatchesBytes, FsImageHeaderBlocksAndFsHeader) {
  const auto pkg = pkgbuild::build(GetParam().recipe);
  const auto& g = pkg.layout.geometry;
  for (size_t k = 0; k < pkg.layout.fsImages.size(); ++k) {
    const auto& img = pkg.layout.fsImages[k];
    const auto bytes = pkg.fsImage(k);
    ASSERT_EQ(bytes.size(), img.imageLength);
    const auto h = pkgbuild::decodeFsImageHeader(std::span<const uint8_t, 48>(bytes.data(), 48));
    EXPECT_EQ(h, img.header);
    ASSERT_EQ(img.mappedBlocks.size(), h.mappedCount);
    ASSERT_EQ(img.reservedBlocks.size(), h.reservedCount);
    for (size_t i = 0; i < h.mappedCount + h.reservedCount; ++i) {
      const auto ref = i < h.mappedCount ? img.mappedBlocks[i] : img.reservedBlocks[i - h.mappedCount];
      EXPECT_EQ(le32(&bytes[48 + 4 * i]), pkgbuild::packMapWord(ref));
    }
    // Mapped and reserved blocks lie inside the FS area; reserved strictly after its first block.
    const uint32_t first = static_cast<uint32_t>(pkg.layout.fsAreaStart / g.blockDataSize);
    const uint32_t end = static_cast<uint32_t>((pkg.layout.fsAreaStart + pkg.layout.fsAreaLength) / g.blockDataSize);
    for (const auto& b : img.mappedBlocks) EXPECT_TRUE(b.block >= first && b.block < end);
    for (const auto& b : img.reservedBlocks) EXPECT_TRUE(b.block > first && b.block < end);

    // Info block in the image right after the header blocks, marked in page 0.
    const auto info = pkg.fsInfoBlock(k);
    EXPECT_TRUE(std::equal(info.begin(), info.end(), bytes.begin() + size_t{h.infoBlocksBefore} * g.rawBlockSize));
    if (!img.hasFsHeader) continue;
    EXPECT_EQ(info[g.pageSize + 2], 0x0F);
    EXPECT_EQ(info[g.pageSize + 3], 0x0D);
    const formatreader::Package r(pkg.bytes);
    std::array<uint8_t, 512> tail{};
    ASSERT_TRUE(r.findMarkedPageTail(img.infoBlockFileOffset, tail));
    EXPECT_EQ(pkgbuild::decodeFsHeader(tail), img.fsHeader);
    EXPECT_EQ(img.written, img.fsHeader.version == (std::array<uint8_t, 3>{5, 2, 0}));
    // Counters end inside the info block's page data, before the FsHeader.
    EXPECT_LE(h.countersEnd + 512, g.blockDataSize);
    // Data block d of the image is dataBlockFileOffsets[d] in the package.
    for (size_t d = 0; d < img.dataBlockFileOffsets.size(); ++d) {
      const auto block = pkg.fsDataBlock(k, d);
      const size_t at = (size_t{h.infoBlocksBefore} + img.infoAreaFileOffsets.size() + d) * g.rawBlockSize;
      EXPECT_TRUE(std::equal(block.begin(), block.end(), bytes.begin() + at)) << k << "/" << d;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Packages, LayoutMatchesBytes, testing::ValuesIn(cases()),
                         [](const auto& param) { return std::string(param.param.name); });

}  // namespace
