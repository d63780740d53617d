#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "hand_package.h"
#include "formats/fs_image_header.h"
#include "formats/little_endian.h"
#include "package/package_image.h"
#include "package/package_records.h"
#include "package/package_source.h"
#include "log_capture.h"

namespace hx {
namespace {

using test::HandEntry;
using test::HandPackage;
using test::kSmallGeometry;

constexpr uint32_t kBds = 16384;
constexpr uint32_t kRaw = 16896;

// A package whose fourth entry is an FS entry of six raw blocks: header block,
// info block (page 5 marked, FsHeader at its end), four data blocks, each
// data byte of block b equal to 0x40 + b.
struct FsPackage {
  HandPackage pkg;
  uint8_t* entry = nullptr;

  explicit FsPackage(std::array<uint8_t, 3> version = {5, 2, 0}) {
    pkg.entries = {HandEntry{10, 0, 6}};
    pkg.build();
    entry = pkg.bytes.data() + uint64_t{pkg.firstBlocks[3]} * kRaw;
    storeLe32(entry + kFsInfoBlocksBeforeOffset, 1);
    storeLe32(entry + kFsRegionCountOffset, 4);
    storeLe32(entry + kFsTotalBlocksOffset, 7);
    storeLe32(entry + kFsMappedCountOffset, 4);
    storeLe32(entry + kFsReservedCountOffset, 3);
    storeLe32(entry + kFsEraseStartIndexOffset, 4);
    storeLe32(entry + kFsBlocksPerRegionOffset, 1);
    storeLe32(entry + kFsCountersEndOffset, kBds);
    storeLe16(entry + kFsPageSizeOffset, 512);
    storeLe16(entry + kFsBlockKiBOffset, 16);
    uint8_t* info = entry + kRaw;
    uint8_t* page5 = info + 5 * 528;
    page5[512 + 2] = 0x0F;
    page5[512 + 3] = 0x0D;
    std::memset(fsHeader() + 0, 0, 512);
    fsHeader()[460] = version[0];
    fsHeader()[461] = version[1];
    fsHeader()[462] = version[2];
    storeLe32(fsHeader() + 388, 300 * kBds);  // info area start: reserved blocks 300...
    storeLe32(fsHeader() + 392, 3 * kBds);
    volume(0, 200 * kBds, 2 * kBds);
    volume(1, 203 * kBds, kBds + 100);  // one block after a gap; the 100 bytes are dropped
    for (int b = 2; b < 6; ++b) {
      for (int p = 0; p < 32; ++p) std::memset(entry + b * kRaw + p * 528, 0x40 + b, 512);
    }
  }
  uint8_t* fsHeader() { return entry + kRaw + 5 * 528; }  // page 5 is all FsHeader
  void volume(int i, uint32_t start, uint32_t length) {
    storeLe32(fsHeader() + 396 + 8 * i, start);
    storeLe32(fsHeader() + 400 + 8 * i, length);
  }
  std::vector<uint8_t> rawBlocks(uint32_t first, uint32_t count) const {
    return std::vector<uint8_t>(entry + first * kRaw, entry + (first + count) * kRaw);
  }
};

bool load(const std::vector<uint8_t>& bytes, PackageRecords& records) {
  MemoryPackageSource source(bytes);
  hxtest::LogCapture capture;
  const bool ok = loadPackageFrom(source, "fs package", records);
  return ok;
}

uint32_t wordAt(const ImageBuffer& image, uint32_t index) { return loadLe32(image.data + 48 + 4 * index); }

TEST(FsVolumeSplit, SplitsA520EntryIntoOneImagePerVolume) {
  FsPackage fs;
  PackageRecords records;
  ASSERT_TRUE(load(fs.pkg.bytes, records)) << records.loadFailure;
  ASSERT_EQ(records.fsImagesInPackage, 2u);
  const ImageBuffer& v0 = records.fsImages[0];
  const ImageBuffer& v1 = records.fsImages[1];
  EXPECT_EQ(v0.address, 0x01800000u);
  EXPECT_EQ(v1.address, 0x05600000u);
  ASSERT_EQ(v0.length, 4 * kRaw);
  ASSERT_EQ(v1.length, 3 * kRaw);

  FsImageHeader h0;
  std::string problem;
  ASSERT_TRUE(parseFsImageHeader(std::span(v0.data, v0.length), h0, &problem)) << problem;
  EXPECT_EQ(h0.infoBlocksBefore, 1u);
  EXPECT_EQ(h0.mappedCount, 2u);
  EXPECT_EQ(h0.eraseStartIndex, 2u);
  EXPECT_EQ(h0.totalBlocks, 5u);
  EXPECT_EQ(h0.blocksPerRegion, 0u);
  EXPECT_EQ(h0.reservedCount, 3u);
  EXPECT_EQ(h0.countersEnd, kBds);
  EXPECT_EQ(wordAt(v0, 0), 200u << 8);
  EXPECT_EQ(wordAt(v0, 1), (201u << 8) | 1);
  EXPECT_EQ(wordAt(v0, 2), 300u << 8);
  EXPECT_EQ(wordAt(v0, 4), (302u << 8) | 2);
  EXPECT_EQ(v0.data[48 + 20], 0xFF) << "the rest of the header block is erased";
  EXPECT_EQ(std::vector<uint8_t>(v0.data + kRaw, v0.data + 4 * kRaw), fs.rawBlocks(1, 3));

  EXPECT_EQ(wordAt(v1, 0), 203u << 8) << "tag j mod regionCount whatever the volume";
  EXPECT_EQ(wordAt(v1, 1), 300u << 8) << "the same reserved words in every image";
  EXPECT_EQ(loadLe32(v1.data + kFsMappedCountOffset), 1u) << "the length's remainder is dropped";
  EXPECT_EQ(std::vector<uint8_t>(v1.data + kRaw, v1.data + 2 * kRaw), fs.rawBlocks(1, 1));
  EXPECT_EQ(std::vector<uint8_t>(v1.data + 2 * kRaw, v1.data + 3 * kRaw), fs.rawBlocks(5, 1));
}

TEST(FsVolumeSplit, OtherVersionsAndUnmarkedInfoBlocksAreCopiedRaw) {
  for (int variant = 0; variant < 2; ++variant) {
    FsPackage fs(variant == 0 ? std::array<uint8_t, 3>{5, 2, 1} : std::array<uint8_t, 3>{5, 2, 0});
    if (variant == 1) fs.entry[kRaw + 5 * 528 + 512 + 3] = 0xFF;  // page 5 no longer marked
    PackageRecords records;
    ASSERT_TRUE(load(fs.pkg.bytes, records)) << records.loadFailure;
    ASSERT_EQ(records.fsImagesInPackage, 1u) << variant;
    EXPECT_EQ(std::vector<uint8_t>(records.fsImages[0].data, records.fsImages[0].data + records.fsImages[0].length),
              fs.rawBlocks(0, 6))
        << variant;
  }
}

TEST(FsVolumeSplit, EmptyFirstVolumeYieldsNoImageAndLaterVolumesAreNotLookedAt) {
  FsPackage fs;
  fs.volume(0, 200 * kBds, 0);
  fs.volume(1, 0xFFFFFFFF, 0xFFFFFFFF);
  PackageRecords records;
  ASSERT_TRUE(load(fs.pkg.bytes, records)) << records.loadFailure;
  EXPECT_EQ(records.fsImagesInPackage, 0u);
  EXPECT_EQ(records.fsImages[0].data, nullptr);
}

TEST(FsVolumeSplit, HostileFsEntriesFailTheLoad) {
  struct Case {
    const char* name;
    std::function<void(FsPackage&)> damage;
    const char* reason;
  };
  const std::vector<Case> cases = {
      {"region count 0", [](FsPackage& f) { storeLe32(f.entry + kFsRegionCountOffset, 0); }, "region count"},
      {"volume before volume 0", [](FsPackage& f) { f.volume(1, 199 * kBds, kBds); }, "before volume 0"},
      {"volume past the entry", [](FsPackage& f) { f.volume(1, 203 * kBds, 2 * kBds); }, "past its entry"},
      {"huge volume", [](FsPackage& f) { f.volume(0, 0, 0xFFFFFFFF); }, "past its entry"},
      {"info area past the entry", [](FsPackage& f) { storeLe32(f.entry + kFsCountersEndOffset, 0xFFFFFFFF); },
       "info area"},
      {"reserved words beyond the header", [](FsPackage& f) { storeLe32(f.entry + kFsReservedCountOffset, 5000); },
       "reserved"},
  };
  for (const Case& c : cases) {
    FsPackage fs;
    c.damage(fs);
    PackageRecords records;
    EXPECT_FALSE(load(fs.pkg.bytes, records)) << c.name;
    EXPECT_NE(records.loadFailure.find(c.reason), std::string::npos) << c.name << ": " << records.loadFailure;
  }
}

TEST(FsVolumeSplit, InfoBlockOutsideTheEntryIsCopiedRaw) {
  FsPackage fs;
  storeLe32(fs.entry + kFsInfoBlocksBeforeOffset, 6);
  PackageRecords records;
  ASSERT_TRUE(load(fs.pkg.bytes, records)) << records.loadFailure;
  EXPECT_EQ(records.fsImages[0].length, 6 * kRaw);
}

}  // namespace
}  // namespace hx
