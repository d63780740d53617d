#include "package/fs_image_admission.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "../formats/fs_test_image.h"
#include "formats/little_endian.h"

namespace hx {
namespace {

using test::mappingWord;

const NandGeometry kGeometry = fsImageGeometry(2048, 128);
constexpr uint32_t kFsHeaderAt = 2048 - 512;  // in the marked page's data

// Two data blocks and a spare, the info block's first page marked, its
// FsHeader naming an info area on 2 KiB boundaries.
std::vector<uint8_t> fsImage(uint8_t versionLast = 0, uint16_t pageSize = 2048, uint16_t blockKiB = 128) {
  test::FsImageRecipe recipe;
  recipe.pageSize = pageSize;
  recipe.blockKiB = blockKiB;
  recipe.countersEnd = pageSize;
  recipe.mappedWords = {mappingWord(0, 100), mappingWord(1, 101)};
  recipe.reservedWords = {mappingWord(0, 150)};
  auto image = test::makeFsImage(recipe);
  const NandGeometry geometry = fsImageGeometry(pageSize, blockKiB);
  uint8_t* info = image.data() + geometry.rawBlockSize;
  test::markInfoPage(info, geometry, 0);
  uint8_t* fsHeader = info + pageSize - 512;  // the end of the marked page's data
  storeLe32(fsHeader + 388, 160 * 131072);
  storeLe32(fsHeader + 392, 4 * 131072);
  fsHeader[460] = 5;
  fsHeader[461] = 2;
  fsHeader[462] = versionLast;
  return image;
}

ImageBuffer recordOf(const std::vector<uint8_t>& image) {
  return ImageBuffer{image.data(), static_cast<uint32_t>(image.size()), 0};
}

TEST(FsImageAdmission, AWholeImageOfVersion520IsWrittenWithWhatTheWriterNeeds) {
  const auto image = fsImage();
  const FsImageAdmission a = admitFsImage(recordOf(image));
  EXPECT_EQ(a.fate, FsImageFate::kWritten);
  EXPECT_EQ(a.fault, FsImageFault::kNone);
  EXPECT_EQ(a.reason, "");
  ASSERT_TRUE(a.header && a.info && a.fsHeader);
  ASSERT_EQ(a.header->table.mappedBlocks().size(), 2u) << "the mapping table is loaded";
  EXPECT_EQ(a.header->table.mappedBlocks()[1].block, 101u);
  EXPECT_EQ(a.fsHeader->infoAreaStart(), 160u * 131072);
  ASSERT_EQ(a.info->data->size(), kGeometry.blockDataSize) << "the image's own info block, split";
  EXPECT_EQ(loadLe32(a.info->data->data() + kFsHeaderAt + 388), 160u * 131072);
  EXPECT_EQ((*a.info->spare)[3], 0x0D);
}

TEST(FsImageAdmission, EachImageHasOneOutcome) {
  struct Case {
    const char* name;
    std::function<void(std::vector<uint8_t>&)> change;
    FsImageFate fate;
    FsImageFault fault;
    const char* reason;
    bool header;    // its fields were read
    bool fsHeader;  // its FsHeader was found
  };
  const uint32_t infoBlock = kGeometry.rawBlockSize;
  const std::vector<Case> cases = {
      {"shorter than its header", [](auto& i) { i.resize(40); }, FsImageFate::kRefused,
       FsImageFault::kUnreadable, "48-byte header", false, false},
      {"info block past its end", [&](auto& i) { i.resize(infoBlock + 10); }, FsImageFate::kRefused,
       FsImageFault::kUnreadable, "past the end of the image", false, false},
      {"no marked page", [&](auto& i) { i[infoBlock + 2048 + 2] = 0xFF; }, FsImageFate::kRefused,
       FsImageFault::kNoFsHeader, "holds no FsHeader", true, false},
      {"another version, whatever its other fields say",
       [&](auto& i) {
         i[infoBlock + kFsHeaderAt + 462] = 1;
         storeLe32(i.data() + kFsMappedCountOffset, 0);
         storeLe32(i.data() + kFsCountersEndOffset, 3);
       },
       FsImageFate::kSkipped, FsImageFault::kNone, "", true, true},
      {"no data blocks", [](auto& i) { storeLe32(i.data() + kFsMappedCountOffset, 0); }, FsImageFate::kRefused,
       FsImageFault::kMalformed, "declares no data blocks", true, true},
      {"data blocks cut off", [](auto& i) { i.pop_back(); }, FsImageFate::kRefused, FsImageFault::kMalformed,
       "shorter than its header declares", true, true},
      {"a data block named twice",
       [](auto& i) { storeLe32(i.data() + kFsImageHeaderSize + 4, mappingWord(1, 100)); }, FsImageFate::kRefused,
       FsImageFault::kUnwritable, "data block 100 is named twice", true, true},
      {"info area off the read-back boundary",
       [&](auto& i) { storeLe32(i.data() + infoBlock + kFsHeaderAt + 388, 0x100); }, FsImageFate::kRefused,
       FsImageFault::kUnwritable, "2 KiB", true, true},
      // The block writes send whole packets of 8 pages of 2048 bytes or 32 of
      // 512; write-block takes no other page size.
      {"2048-byte pages in 8 KiB blocks", [](auto& i) { i = fsImage(0, 2048, 8); }, FsImageFate::kRefused,
       FsImageFault::kUnwritable, "geometry (page size 2048, 8 KiB blocks: 4 pages per block) cannot be written",
       true, true},
      {"512-byte pages in 8 KiB blocks", [](auto& i) { i = fsImage(0, 512, 8); }, FsImageFate::kRefused,
       FsImageFault::kUnwritable, "geometry (page size 512, 8 KiB blocks: 16 pages per block) cannot be written",
       true, true},
      {"1024-byte pages", [](auto& i) { i = fsImage(0, 1024, 32); }, FsImageFate::kRefused,
       FsImageFault::kUnwritable, "pages of 512 or 2048 bytes", true, true},
      {"512-byte pages in 16 KiB blocks", [](auto& i) { i = fsImage(0, 512, 16); }, FsImageFate::kWritten,
       FsImageFault::kNone, "", true, true},
      {"another version in 8 KiB blocks", [](auto& i) { i = fsImage(1, 2048, 8); }, FsImageFate::kSkipped,
       FsImageFault::kNone, "", true, true},
      {"blocks below any FS area: the NAND's to judge",
       [](auto& i) { storeLe32(i.data() + kFsImageHeaderSize, mappingWord(0, 0)); }, FsImageFate::kWritten,
       FsImageFault::kNone, "", true, true},
  };
  for (const Case& c : cases) {
    auto image = fsImage();
    c.change(image);
    const FsImageAdmission a = admitFsImage(recordOf(image));
    EXPECT_EQ(a.fate, c.fate) << c.name;
    EXPECT_EQ(a.fault, c.fault) << c.name;
    EXPECT_NE(a.reason.find(c.reason), std::string::npos) << c.name << ": " << a.reason;
    EXPECT_EQ(a.reason.empty(), c.fate != FsImageFate::kRefused) << c.name;
    EXPECT_EQ(a.header.has_value(), c.header) << c.name;
    EXPECT_EQ(a.fsHeader.has_value(), c.fsHeader) << c.name;
  }
}

TEST(FsImageAdmission, ARecordWithoutBytesIsRefused) {
  const FsImageAdmission a = admitFsImage(ImageBuffer{});
  EXPECT_EQ(a.fate, FsImageFate::kRefused);
  EXPECT_EQ(a.fault, FsImageFault::kNoBytes);
  EXPECT_EQ(a.reason, "no image bytes");
}

}  // namespace
}  // namespace hx
