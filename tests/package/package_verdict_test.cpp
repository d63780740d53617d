#include "package/package_verdict.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "../formats/fs_test_image.h"
#include "formats/little_endian.h"
#include "formats/bootloader_info.h"

namespace hx {
namespace {

using test::mappingWord;

// Records of a downloadable package, built from bytes the test owns.
struct VerdictFixture {
  std::vector<uint8_t> bootloader = std::vector<uint8_t>(4096, 0);
  std::vector<uint8_t> rom = std::vector<uint8_t>(8192, 0);
  std::vector<uint8_t> secondary = std::vector<uint8_t>(100, 1);
  std::vector<std::vector<uint8_t>> fs;
  PackageRecords records;
  static constexpr uint32_t kFsAreaStart = 100 * 131072;  // block 100

  VerdictFixture() {
    const std::string marker = std::string(kBootloaderInfoMarker) + "3";
    std::memcpy(bootloader.data() + 4096 - 4 - 136, marker.data(), marker.size());
    storeLe32(bootloader.data() + 4092, 136);
    const std::string romMarker = "MTK_ROMINFO_v5";
    std::memcpy(rom.data() + 64, romMarker.data(), romMarker.size());
    storeLe16(rom.data() + 64 + 210, 2);
    storeLe32(rom.data() + 64 + 236, kFsAreaStart);
    storeLe32(rom.data() + 64 + 240, 64 * 131072);
    fs.push_back(fsImage({mappingWord(0, 100), mappingWord(1, 101)}, {mappingWord(0, 150)}));
  }

  static std::vector<uint8_t> fsImage(std::vector<uint32_t> mapped, std::vector<uint32_t> reserved,
                                      uint8_t versionLast = 0) {
    test::FsImageRecipe recipe;
    recipe.mappedWords = std::move(mapped);
    recipe.reservedWords = std::move(reserved);
    auto image = test::makeFsImage(recipe);
    const NandGeometry g = fsImageGeometry(2048, 128);
    uint8_t* info = image.data() + g.rawBlockSize;
    test::markInfoPage(info, g, 0);
    storeLe32(info + 2048 - 512 + 388, 160 * 131072);  // the info area: blocks 160..163
    storeLe32(info + 2048 - 512 + 392, 4 * 131072);
    info[2048 - 512 + 460] = 5;
    info[2048 - 512 + 461] = 2;
    info[2048 - 512 + 462] = versionLast;
    return image;
  }

  const PackageRecords& finish() {
    records.loaded = true;
    records.bootloader = ImageBuffer{bootloader.data(), static_cast<uint32_t>(bootloader.size()), 0};
    records.romImage = ImageBuffer{rom.data(), static_cast<uint32_t>(rom.size()), 0};
    records.secondaryRomImage = ImageBuffer{secondary.data(), static_cast<uint32_t>(secondary.size()), 0x4000};
    for (size_t k = 0; k < fs.size() && k < kFsImageSlots; ++k) {
      records.fsImages[k] = ImageBuffer{fs[k].data(), static_cast<uint32_t>(fs[k].size()), 0};
    }
    records.fsImagesInPackage = static_cast<uint32_t>(fs.size());
    return records;
  }
};

TEST(PackageVerdict, AcceptsAWellFormedPackage) {
  VerdictFixture f;
  const auto verdict = judgePackage(f.finish());
  EXPECT_TRUE(verdict.downloadable) << verdict.reason;
  EXPECT_EQ(verdict.reason, "");
  // A spare named twice is taken once.
  VerdictFixture twice;
  twice.fs[0] = VerdictFixture::fsImage({mappingWord(0, 100), mappingWord(1, 101)}, {mappingWord(0, 150), mappingWord(0, 150)});
  EXPECT_TRUE(judgePackage(twice.finish()).downloadable);
}

TEST(PackageVerdict, RefusesWithAReason) {
  struct Case {
    const char* name;
    std::function<void(VerdictFixture&)> damage;
    const char* reason;
  };
  const std::vector<Case> cases = {
      {"not loaded", [](auto& f) { f.records.loadFailure = "x"; }, "did not load"},
      {"no bootloader record", [](auto& f) { f.bootloader[4096 - 140] = 'X'; }, "no bootloader information"},
      {"short bootloader record",
       [](auto& f) {
         storeLe32(f.bootloader.data() + 4092, 135);
         std::memcpy(f.bootloader.data() + 4096 - 4 - 135, "MTK_BLOADER_INFO_v3", 19);
       },
       "shorter than its version"},
      {"empty bootloader", [](auto& f) { f.bootloader.clear(); }, "no bootloader information"},
      {"empty ROM", [](auto& f) { f.rom.clear(); }, "ROM image is empty"},
      {"empty secondary ROM", [](auto& f) { f.secondary.clear(); }, "secondary ROM image is empty"},
      {"no RomInfo marker", [](auto& f) { f.rom[64] = 'X'; }, "marker"},
      {"marker too late", [](auto& f) { f.rom.resize(0x100100, 0); f.rom[64] = 'X';
                                        std::memcpy(f.rom.data() + 0x100000, "MTK_ROMINFO_v5", 14); }, "marker"},
      {"one area entry", [](auto& f) { storeLe16(f.rom.data() + 64 + 210, 1); }, "two area"},
      {"FS area length 0", [](auto& f) { storeLe32(f.rom.data() + 64 + 240, 0); }, "length 0"},
      {"five FS images", [](auto& f) { f.fs.resize(5, f.fs[0]); }, "5 FS images"},
      {"short FS image", [](auto& f) { f.fs[0].pop_back(); }, "shorter than its header declares"},
      {"counters past the info block",
       [](auto& f) { storeLe32(f.fs[0].data() + kFsCountersEndOffset, 131073); }, "counters"},
      {"mapped block below the FS area",
       [](auto& f) { f.fs[0] = VerdictFixture::fsImage({mappingWord(0, 99)}, {mappingWord(0, 150)}); }, "below"},
      {"reserved block at the FS area start",
       [](auto& f) { f.fs[0] = VerdictFixture::fsImage({mappingWord(0, 101)}, {mappingWord(0, 100)}); }, "at or below"},
      {"region tag 8",
       [](auto& f) { f.fs[0] = VerdictFixture::fsImage({mappingWord(8, 100)}, {mappingWord(0, 150)}); }, "region tag 8"},
      {"FsHeader not found",
       [](auto& f) { f.fs[0][fsImageGeometry(2048, 128).rawBlockSize + 2048 + 2] = 0xFF; }, "no FsHeader"},
      {"data block named twice",
       [](auto& f) { f.fs[0] = VerdictFixture::fsImage({mappingWord(0, 100), mappingWord(1, 100)}, {mappingWord(0, 150)}); },
       "data block 100 is named twice"},
      {"data block named as a spare too",
       [](auto& f) { f.fs[0] = VerdictFixture::fsImage({mappingWord(0, 100), mappingWord(1, 101)}, {mappingWord(0, 101)}); },
       "block 101 is named both as a data block and as a spare"},
      {"info area off the 2 KiB read-back boundary",
       [](auto& f) { storeLe32(f.fs[0].data() + fsImageGeometry(2048, 128).rawBlockSize + 2048 - 512 + 388, 0x100); },
       "2 KiB"},
      {"info area past 4 GiB",
       [](auto& f) {
         uint8_t* header = f.fs[0].data() + fsImageGeometry(2048, 128).rawBlockSize + 2048 - 512;
         storeLe32(header + 388, 0xFFFFF800);
         storeLe32(header + 392, 0x1000);
       },
       "past 4 GiB"},
      {"second FS image malformed",
       [](auto& f) { f.fs.push_back(f.fs[0]); storeLe32(f.fs[1].data() + kFsMappedCountOffset, 0); }, "FS image 1"},
  };
  for (const Case& c : cases) {
    VerdictFixture f;
    c.damage(f);
    f.finish();
    if (std::string(c.name) == "not loaded") f.records.loaded = false;
    const auto verdict = judgePackage(f.records);
    EXPECT_FALSE(verdict.downloadable) << c.name;
    EXPECT_NE(verdict.reason.find(c.reason), std::string::npos) << c.name << ": " << verdict.reason;
  }
}

TEST(PackageVerdict, SkipsEmptyFsRecordsAndImagesOfAnotherVersionWhateverTheirOtherFieldsSay) {
  struct Case {
    const char* name;
    std::function<void(std::vector<uint8_t>&)> change;
  };
  const std::vector<Case> cases = {
      {"blocks below the FS area", [](auto&) {}},
      {"no data blocks", [](auto& image) { storeLe32(image.data() + kFsMappedCountOffset, 0); }},
      {"erase range past the table", [](auto& image) { storeLe32(image.data() + kFsEraseStartIndexOffset, 9); }},
      {"counters before the data", [](auto& image) { storeLe32(image.data() + kFsCountersEndOffset, 15); }},
  };
  for (const Case& c : cases) {
    VerdictFixture f;
    f.fs[0] = VerdictFixture::fsImage({mappingWord(0, 5)}, {mappingWord(9, 6)}, 1);  // version 5.2.1
    c.change(f.fs[0]);
    const auto verdict = judgePackage(f.finish());
    EXPECT_TRUE(verdict.downloadable) << c.name << ": " << verdict.reason;
  }
  VerdictFixture none;
  none.fs.clear();
  EXPECT_TRUE(judgePackage(none.finish()).downloadable);
}

}  // namespace
}  // namespace hx
