#include "formats/fs_image_header.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "fs_test_image.h"
#include "formats/fs_image_checks.h"

namespace hx {
namespace {

using test::FsImageRecipe;
using test::makeFsImage;
using test::mappingWord;

TEST(FsImageGeometry, DerivesSpareAndBlockSizes) {
  struct Case {
    uint16_t pageSize, blockKiB;
    uint32_t spare, raw, data;
  };
  for (const Case& c : {Case{2048, 128, 64, 135168, 131072}, Case{512, 16, 16, 16896, 16384},
                        Case{4096, 256, 4096, 64 * 8192, 256 * 1024}, Case{2048, 1, 64, 0, 0}}) {
    const NandGeometry g = fsImageGeometry(c.pageSize, c.blockKiB);
    EXPECT_EQ(g.spareSize, c.spare);
    EXPECT_EQ(g.rawBlockSize, c.raw);
    EXPECT_EQ(g.blockDataSize, c.data);
  }
}

TEST(FsImageHeader, ParsesFieldsAndMappingTable) {
  FsImageRecipe recipe;
  recipe.mappedWords = {mappingWord(0, 200), mappingWord(1, 201)};
  recipe.reservedWords = {mappingWord(0, 300), mappingWord(1, 301)};
  const auto image = makeFsImage(recipe);
  FsImageHeader header;
  std::string problem;
  ASSERT_TRUE(parseFsImageHeader(image, header, &problem)) << problem;
  EXPECT_EQ(header.infoBlocksBefore, 1u);
  EXPECT_EQ(header.mappedCount, 2u);
  EXPECT_EQ(header.reservedCount, 2u);
  EXPECT_EQ(header.eraseStartIndex, 2u);
  EXPECT_EQ(header.countersEnd, 2048u);
  EXPECT_EQ(header.geometry.rawBlockSize, 135168u);
  EXPECT_EQ(header.table.blockAt(1), 201u);
  EXPECT_EQ(header.table.regionAt(3), 1u);
  EXPECT_EQ(fsInfoBlock(image, header).data(), image.data() + 135168);
  EXPECT_EQ(fsDataBlock(image, header, 1).data(), image.data() + 3 * 135168);
  EXPECT_EQ(fsDataBlock(image, header, 1).size(), 135168u);
}

TEST(FsImageHeader, RefusesMalformedImages) {
  FsImageRecipe good;
  good.mappedWords = {mappingWord(0, 200)};
  good.reservedWords = {mappingWord(0, 300)};
  struct Case {
    const char* name;
    std::function<void(std::vector<uint8_t>&)> damage;
  };
  const std::vector<Case> cases = {
      {"shorter than the header", [](auto& img) { img.resize(47); }},
      {"one byte short of its blocks", [](auto& img) { img.pop_back(); }},
      {"page size 0", [](auto& img) { storeLe16(img.data() + kFsPageSizeOffset, 0); }},
      {"page size 256", [](auto& img) { storeLe16(img.data() + kFsPageSizeOffset, 256); }},
      {"block below one page", [](auto& img) { storeLe16(img.data() + kFsBlockKiBOffset, 1); }},
      {"no data blocks", [](auto& img) { storeLe32(img.data() + kFsMappedCountOffset, 0); }},
      {"huge mapped count", [](auto& img) { storeLe32(img.data() + kFsMappedCountOffset, 0xFFFFFFFF); }},
      {"huge reserved count", [](auto& img) { storeLe32(img.data() + kFsReservedCountOffset, 0x40000000); }},
      {"huge info blocks before", [](auto& img) { storeLe32(img.data() + kFsInfoBlocksBeforeOffset, 0xFFFFFFFF); }},
      {"erase range past the table", [](auto& img) { storeLe32(img.data() + kFsEraseStartIndexOffset, 2); }},
      {"counters past the page data", [](auto& img) { storeLe32(img.data() + kFsCountersEndOffset, 131073); }},
      {"counters before the data", [](auto& img) { storeLe32(img.data() + kFsCountersEndOffset, 15); }},
  };
  for (const auto& c : cases) {
    auto image = makeFsImage(good);
    c.damage(image);
    FsImageHeader header;
    std::string problem;
    EXPECT_FALSE(parseFsImageHeader(image, header, &problem)) << c.name;
    EXPECT_FALSE(problem.empty()) << c.name;
  }
  auto image = makeFsImage(good);
  storeLe32(image.data() + kFsCountersEndOffset, 131072);
  FsImageHeader header;
  EXPECT_TRUE(parseFsImageHeader(image, header)) << "counters may end exactly at the end of the page data";
}

TEST(FsImageChecks, RefusesBlocksAtOrBelowTheFsAreaStart) {
  FsImageRecipe recipe;
  recipe.mappedWords = {mappingWord(0, 200), mappingWord(1, 201)};
  recipe.reservedWords = {mappingWord(0, 300)};
  FsImageHeader header;
  ASSERT_TRUE(parseFsImageHeader(makeFsImage(recipe), header));
  EXPECT_EQ(fsImageProblemForBase(header, 200), "");
  EXPECT_NE(fsImageProblemForBase(header, 201), "") << "mapped block 200 lies below the FS area";
  recipe.reservedWords = {mappingWord(0, 150)};
  ASSERT_TRUE(parseFsImageHeader(makeFsImage(recipe), header));
  EXPECT_EQ(fsImageProblemForBase(header, 149), "");
  EXPECT_NE(fsImageProblemForBase(header, 150), "") << "a spare at the FS area start would be recorded as 0";
}

TEST(FsImageChecks, RefusesRemapEntriesPastTheInfoBlock) {
  FsImageRecipe recipe;
  recipe.pageSize = 512;
  recipe.blockKiB = 16;
  recipe.countersEnd = 512;
  recipe.mappedWords = {mappingWord(0, 8191), mappingWord(0, 8192)};
  FsImageHeader header;
  ASSERT_TRUE(parseFsImageHeader(makeFsImage(recipe), header));
  EXPECT_EQ(fsImageProblemForBase(header, 1), "") << "entries 8190 and 8191 end the 16 KiB page data";
  EXPECT_NE(fsImageProblemForBase(header, 0), "");
}

}  // namespace
}  // namespace hx
