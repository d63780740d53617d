// The knobs that make unusual and hostile packages for the reader's tests.
#include <gtest/gtest.h>

#include <cstring>

#include "format_reader.h"
#include "pkgbuild/package_builder.h"
#include "pkgbuild/package_mutations.h"

namespace {

using formatreader::le16;
using formatreader::le32;

std::vector<uint8_t> tableOf(const pkgbuild::BuiltPackage& pkg) {
  return formatreader::Package(pkg.bytes).imageTable();
}

TEST(ImageEntries, NumberedInTableOrderWhateverTheirType) {
  auto recipe = pkgbuild::tinyRecipe(512);
  recipe.entries = {{4, 5000}, {8, 700}, {5, 900}, {9, 300}, {200, 10}, {4, 6000}, {10, 0, 0}};
  const auto pkg = pkgbuild::build(recipe);
  const auto table = tableOf(pkg);
  // Images 1..4 are the 4, 8, 5 and the second 4; skipped types take no number.
  EXPECT_EQ(le32(&table[20]), 5000u);
  EXPECT_EQ(le32(&table[36]), 700u);
  EXPECT_EQ(le32(&table[52]), 900u);
  EXPECT_EQ(le32(&table[68]), 6000u);
  ASSERT_EQ(pkg.layout.images.size(), 4u);
  EXPECT_EQ(pkg.layout.images[3].entryIndex, 8u);
  // The ROM record is the last type-4 image, and it carries its own RomInfo.
  EXPECT_EQ(pkg.layout.primaryRom.fileOffset, pkg.layout.images[3].data.fileOffset);
  EXPECT_EQ(pkg.primaryRom().size(), 6000u);
  EXPECT_EQ(std::memcmp(pkg.primaryRom().data() + recipe.romInfo.offset, "MTK_ROMINFO_v", 13), 0);
  EXPECT_EQ(std::memcmp(pkg.pageData(pkg.layout.images[0].data).data() + recipe.romInfo.offset, "MTK_ROMINFO_v", 13), 0);
  EXPECT_EQ(pkg.secondaryRom().size(), 900u);
  EXPECT_EQ(pkg.layout.entries[7].type, 200u);
}

TEST(ImageEntries, LengthSlotsFromTenOnSkipFourBytes) {
  auto recipe = pkgbuild::tinyRecipe(512);
  recipe.entries.clear();
  for (uint32_t n = 1; n <= 20; ++n) recipe.entries.push_back({8, 1000 + n});
  recipe.entries[19].tableLength = 0xFFFFFFFFll;  // image 20: no slot at all
  recipe.entries[10].tableLength = 0xFFFFFFFFll;  // image 11: a length field of 4 GiB
  const auto pkg = pkgbuild::build(recipe);
  const auto table = tableOf(pkg);
  EXPECT_EQ(le32(&table[148]), 1009u);  // image 9
  EXPECT_EQ(le32(&table[168]), 1010u);  // image 10
  EXPECT_NE(le32(&table[164]), 1010u);
  EXPECT_EQ(le32(&table[184]), 0xFFFFFFFFu);  // image 11
  EXPECT_EQ(le32(&table[312]), 1019u);  // image 19
  EXPECT_EQ(pkg.layout.images[18].tableOffset, 312u);
  EXPECT_EQ(pkg.layout.images[19].tableOffset, 0u);
  EXPECT_EQ(pkg.layout.images[19].data.length, 1020u);
}

TEST(ImageEntries, DisallowedTypesAreWrittenAsAsked) {
  auto recipe = pkgbuild::tinyRecipe(2048);
  recipe.entries.insert(recipe.entries.begin(), pkgbuild::EntryRecipe{2, 100});
  const auto pkg = pkgbuild::build(recipe);
  const formatreader::Package r(pkg.bytes);
  EXPECT_EQ(r.entries[3].type, 2u);
  EXPECT_EQ(pkg.layout.images.front().type, 4u);
  EXPECT_EQ(pkg.layout.images.front().number, 1u);
}

TEST(BootloaderInfo, RecordByVersionAndHostileLengths) {
  struct Row { uint32_t version, recordLength, expectL; bool marker; };
  for (const Row& r : {Row{1, 0, 108, true}, Row{2, 0, 132, true}, Row{3, 0, 136, true}, Row{4, 0, 136, true},
                       Row{2, 120, 120, true}, Row{3, 60000, 60000, false}}) {
    auto recipe = pkgbuild::tinyRecipe(512);
    recipe.bootloader.infoVersion = r.version;
    recipe.bootloader.recordLength = r.recordLength;
    const auto pkg = pkgbuild::build(recipe);
    const auto bl = pkg.bootloader();
    ASSERT_EQ(bl.size(), recipe.bootloader.length);
    EXPECT_EQ(le32(&bl[bl.size() - 4]), r.expectL) << r.version;
    if (!r.marker) continue;
    const uint8_t* rec = &bl[bl.size() - 4 - r.expectL];
    EXPECT_EQ(std::memcmp(rec, "MTK_BLOADER_INFO_v", 18), 0);
    EXPECT_EQ(rec[18], '0' + r.version);
    EXPECT_EQ(rec[19], 0);  // the version text ends before any noise
  }
  auto recipe = pkgbuild::tinyRecipe(512);
  recipe.bootloader.withRecord = false;
  const auto bl = pkgbuild::build(recipe).bootloader();
  const std::string marker = "MTK_BLOADER_INFO_v";
  EXPECT_EQ(std::search(bl.begin(), bl.end(), marker.begin(), marker.end()), bl.end());
}

TEST(RomInfo, VersionsAreasAndOverrides) {
  for (uint32_t version : {4u, 5u, 6u}) {
    auto recipe = pkgbuild::tinyRecipe(2048);
    recipe.romInfo.version = version;
    recipe.romInfo.extraAreas = {{2, 0, 0x00900000, 0x00100000}};
    recipe.romInfo.areaCountOverride = version == 6 ? 1 : -1;
    recipe.romInfo.fsAreaLengthOverride = version == 4 ? 0 : -1;
    const auto pkg = pkgbuild::build(recipe);
    const auto rom = pkg.primaryRom();
    const uint8_t* ri = &rom[recipe.romInfo.offset];
    EXPECT_EQ(ri[13], '0' + version);
    EXPECT_EQ(le16(ri + 210), version == 6 ? 1 : 3);
    EXPECT_EQ(le32(ri + 240), version == 4 ? 0u : pkg.layout.fsAreaLength);
    EXPECT_EQ(le32(ri + 252), 0x00900000u);  // entry 2 start
    EXPECT_EQ(pkg.layout.fsFormatAreaStart, 0x00900000u);
    EXPECT_EQ(pkg.layout.fsFormatAreaLength, 0x00100000u);
  }
  auto recipe = pkgbuild::tinyRecipe(2048);
  recipe.romInfo.present = false;
  const auto rom = pkgbuild::build(recipe).primaryRom();
  const std::string marker = "MTK_ROMINFO_v";
  EXPECT_EQ(std::search(rom.begin(), rom.end(), marker.begin(), marker.end()), rom.end());
}

TEST(FsEntries, RawAndUnmarkedEntriesAreCopiedWhole) {
  for (bool marked : {true, false}) {
    auto recipe = pkgbuild::tinyRecipe(512);
    recipe.fs[0].version = marked ? std::array<uint8_t, 3>{5, 2, 1} : std::array<uint8_t, 3>{5, 2, 0};
    recipe.fs[0].markInfoBlock = marked;
    const auto pkg = pkgbuild::build(recipe);
    ASSERT_EQ(pkg.layout.fsImages.size(), 1u);
    const auto& img = pkg.layout.fsImages[0];
    EXPECT_EQ(img.volume, -1);
    EXPECT_FALSE(img.written);
    EXPECT_EQ(img.hasFsHeader, marked);
    const auto& entry = pkg.layout.entries[pkg.layout.fsEntries[0].entryIndex];
    EXPECT_EQ(img.imageLength, uint64_t{entry.blockCount} * pkg.layout.geometry.rawBlockSize);
    const auto bytes = pkg.fsImage(0);
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), pkg.bytes.begin() + static_cast<long>(img.rawFileOffset)));
    std::array<uint8_t, 512> tail{};
    EXPECT_EQ(formatreader::Package(pkg.bytes).findMarkedPageTail(img.infoBlockFileOffset, tail), marked);
  }
}

TEST(FsEntries, EmptyVolumeEndsTheSplit) {
  auto recipe = pkgbuild::tinyRecipe(2048);
  recipe.fs[0].volumes[1].blocks = 0;
  EXPECT_EQ(pkgbuild::build(recipe).layout.fsImages.size(), 1u);
  recipe.fs[0].volumes[0].blocks = 0;
  EXPECT_EQ(pkgbuild::build(recipe).layout.fsImages.size(), 0u);
  recipe = pkgbuild::tinyRecipe(2048);
  recipe.fs[0].volumes[1].blocks = 0;
  recipe.fs[0].volumes[1].extraBytes = 5;  // shorter than a block: an image without data blocks
  const auto pkg = pkgbuild::build(recipe);
  ASSERT_EQ(pkg.layout.fsImages.size(), 3u);
  EXPECT_EQ(pkg.layout.fsImages[1].header.mappedCount, 0u);
}

TEST(FsEntries, CountersEndBeyondOneBlockGivesALongerInfoArea) {
  auto recipe = pkgbuild::tinyRecipe(512);
  recipe.fs[0].countersEnd = 16 * 1024 + 100;
  const auto pkg = pkgbuild::build(recipe);
  ASSERT_EQ(pkg.layout.fsEntries[0].infoAreaBlocks, 2u);
  const auto images = formatreader::Package(pkg.bytes).fsImages();
  ASSERT_EQ(images.size(), pkg.layout.fsImages.size());
  for (size_t k = 0; k < images.size(); ++k) {
    EXPECT_EQ(pkg.layout.fsImages[k].infoAreaFileOffsets.size(), 2u);
    EXPECT_TRUE(images[k] == pkg.fsImage(k)) << k;
  }
}

TEST(FsEntries, MoreThanFourImagesAndAddresses) {
  auto recipe = pkgbuild::tinyRecipe(512);
  recipe.fs[0].volumes.resize(5, pkgbuild::FsVolumeRecipe{1});
  const auto pkg = pkgbuild::build(recipe);
  ASSERT_EQ(pkg.layout.fsImages.size(), 5u);
  const uint32_t addresses[] = {0x01800000, 0x05600000, 0x09600000, 0x0E600000, 0};
  for (size_t k = 0; k < 5; ++k) EXPECT_EQ(pkg.layout.fsImages[k].address, addresses[k]);
}

TEST(FsEntries, ProgrammedPagesFollowThePattern) {
  auto recipe = pkgbuild::tinyRecipe(512);
  pkgbuild::FsVolumeRecipe v{6};
  v.programmedPages = {-1, 0, 1, 3, 4, 31};
  recipe.fs[0].volumes = {v, v};
  recipe.fs[0].volumes[1].scatterPages = true;
  const auto pkg = pkgbuild::build(recipe);
  const auto& g = pkg.layout.geometry;
  for (size_t k = 0; k < 2; ++k) {
    for (size_t d = 0; d < 6; ++d) {
      const auto block = pkg.fsDataBlock(k, d);
      std::vector<uint32_t> programmed;
      for (uint32_t p = 0; p < g.pagesPerBlock; ++p) {
        const auto page = block.subspan(size_t{p} * g.rawPageSize(), g.rawPageSize());
        if (pkgbuild::isProgrammedSpare(page.subspan(g.pageSize))) {
          programmed.push_back(p);
          // Neither bad-block markers nor the info mark on a data page.
          EXPECT_EQ(page[g.pageSize + 5], 0xFF);
          EXPECT_FALSE(page[g.pageSize + 2] == 0x0F && page[g.pageSize + 3] == 0x0D);
        } else {
          EXPECT_TRUE(std::all_of(page.begin(), page.end(), [](uint8_t b) { return b == 0xFF; }));
        }
      }
      const uint32_t want = v.programmedPages[d] < 0 ? 32 : static_cast<uint32_t>(v.programmedPages[d]);
      ASSERT_EQ(programmed.size(), want) << k << "/" << d;
      if (k == 0 && want) {
        EXPECT_EQ(programmed.back(), want - 1);  // the first pages
      }
      if (k == 1 && want == 3) {
        EXPECT_EQ(programmed, (std::vector<uint32_t>{0, 10, 21}));  // spread over the block
      }
    }
  }
}

TEST(FsEntries, MappingAndReservedBlocksByRegion) {
  auto recipe = pkgbuild::tinyRecipe(2048);
  recipe.fs[0].regionCount = 3;
  recipe.fs[0].reservedPerRegion = 2;
  const auto pkg = pkgbuild::build(recipe);
  const auto& img = pkg.layout.fsImages[1];
  const uint32_t first = img.fsHeader.volumes[1].start / pkg.layout.geometry.blockDataSize;
  for (uint32_t j = 0; j < img.mappedBlocks.size(); ++j)
    EXPECT_EQ(img.mappedBlocks[j], (pkgbuild::BlockRef{j % 3, first + j}));
  ASSERT_EQ(img.reservedBlocks.size(), 6u);
  const uint32_t info = img.fsHeader.infoAreaStart / pkg.layout.geometry.blockDataSize;
  for (uint32_t j = 0; j < 6; ++j) EXPECT_EQ(img.reservedBlocks[j], (pkgbuild::BlockRef{j % 3, info + j}));
  EXPECT_EQ(img.fsHeader.infoAreaLength, 6 * pkg.layout.geometry.blockDataSize);
  EXPECT_EQ(img.header.eraseStartIndex, img.header.mappedCount);
  EXPECT_EQ(img.header.blocksPerRegion, img.header.mappedCount / 3);
}

TEST(InfoBlock, RemapCountersAndHeaderPage) {
  const auto g = pkgbuild::geometryFor(512, 16);
  pkgbuild::InfoBlockContent c;
  c.countersEnd = 600;
  c.remap = {0, 7, 0, 9};
  c.counters = {1, 2, 3, 4, 5, 6, 7, 8};
  c.header.infoAreaStart = 0x123400;
  const auto raw = pkgbuild::makeInfoBlock(g, c);
  ASSERT_EQ(raw.size(), g.rawBlockSize);
  EXPECT_EQ(pkgbuild::fsHeaderPage(g, 600), 2u);  // 600 + 512 bytes need three 512-byte pages
  EXPECT_EQ(le16(&raw[2]), 7);
  EXPECT_EQ(le16(&raw[6]), 9);
  // Counter 0 at page-data byte 584 (page 1, byte 72), counter 7 at 598.
  EXPECT_EQ(le16(&raw[528 + 72]), 1);
  EXPECT_EQ(le16(&raw[528 + 86]), 8);
  std::array<uint8_t, 512> tail{};
  std::copy_n(&raw[2 * 528], 512, tail.begin());
  EXPECT_EQ(pkgbuild::decodeFsHeader(tail).infoAreaStart, 0x123400u);
  for (uint32_t p = 0; p < g.pagesPerBlock; ++p) {
    const uint8_t* spare = &raw[p * 528 + 512];
    EXPECT_EQ(spare[2] == 0x0F && spare[3] == 0x0D, p <= 2) << p;
  }
  c.marked = false;
  EXPECT_NE(pkgbuild::makeInfoBlock(g, c)[512 + 2], 0x0F);
  EXPECT_EQ(pkgbuild::fsHeaderPage(pkgbuild::geometryFor(2048, 128), 200), 0u);
}

TEST(Mutations, PatchWhatTheRecipeCannotSay) {
  auto pkg = pkgbuild::build(pkgbuild::tinyRecipe(2048));
  const auto size = pkg.bytes.size();
  pkgbuild::patchLe16(pkg, 2, 0);
  EXPECT_EQ(le16(&pkg.bytes[2]), 0);
  pkgbuild::patchLe32(pkg, pkg.layout.spanOffset, 100);
  EXPECT_EQ(le32(&pkg.bytes[16]), 100u);
  pkgbuild::patchEntry(pkg, 3, {.firstBlock = 1u << 20, .type = 7});
  EXPECT_EQ(le32(&pkg.bytes[32 + 48]), 1u << 20);
  EXPECT_EQ(pkg.bytes[32 + 48 + 11], 7);
  EXPECT_EQ(le32(&pkg.bytes[32 + 48 + 4]), pkg.layout.entries[3].blockCount);

  const uint8_t junk[] = {1, 2, 3, 4, 5};
  const uint32_t pageSize = pkg.layout.geometry.pageSize;
  pkgbuild::patchPageData(pkg, pkg.layout.primaryRom, pageSize - 2, junk);  // across a page boundary
  const auto rom = pkg.primaryRom();
  EXPECT_TRUE(std::equal(std::begin(junk), std::end(junk), rom.begin() + pageSize - 2));
  EXPECT_THROW(pkgbuild::patchLe32(pkg, size - 2, 0), std::out_of_range);

  pkgbuild::removeTerminator(pkg);
  EXPECT_EQ(pkg.bytes.size(), pkg.layout.terminatorOffset);
  const formatreader::Package r(pkg.bytes);
  EXPECT_EQ(r.entries.size(), pkg.layout.entries.size());
}

}  // namespace
