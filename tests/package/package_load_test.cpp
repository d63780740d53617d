#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "hand_package.h"
#include "formats/little_endian.h"
#include "package/package_image.h"
#include "package/package_records.h"
#include "package/package_source.h"
#include "log_capture.h"

namespace hx {
namespace {

using test::HandEntry;
using test::HandPackage;

bool load(const std::vector<uint8_t>& bytes, PackageRecords& records) {
  MemoryPackageSource source(bytes);
  return loadPackageFrom(source, "test package", records);
}

std::vector<uint8_t> bytesOf(const ImageBuffer& b) { return std::vector<uint8_t>(b.data, b.data + b.length); }

TEST(PackageLoad, FixedEntriesGiveBootloaderAndExtBootloaderOnly) {
  HandPackage pkg;
  PackageRecords records;
  hxtest::LogCapture capture;
  ASSERT_TRUE(load(pkg.build(), records)) << records.loadFailure;
  EXPECT_EQ(capture.text(), "") << "a successful load logs nothing";
  EXPECT_TRUE(records.loaded);
  EXPECT_EQ(bytesOf(records.bootloader), pkg.pattern(0, pkg.bootloaderLength));
  EXPECT_EQ(bytesOf(records.extBootloader), pkg.pattern(1, pkg.extLength));
  EXPECT_EQ(records.romImage.data, nullptr);
  EXPECT_EQ(records.romImage.length, 0u);
  EXPECT_EQ(records.secondaryRomImage.data, nullptr);
  EXPECT_EQ(records.fsImages[0].data, nullptr);
  EXPECT_EQ(records.fsImagesInPackage, 0u);
  ASSERT_TRUE(records.contents);
  EXPECT_EQ(records.contents->entries.size(), 3u);
  EXPECT_EQ(records.contents->bootloaderSpan, pkg.bootloaderLength + 128) << "read from header bytes 16..19";
}

TEST(PackageLoad, ImageEntriesTakeTheirTableLengthsInOrder) {
  HandPackage pkg;
  pkg.entries = {HandEntry{4, 5000, 1}, HandEntry{8, 700, 1}, HandEntry{9, 0, 1}, HandEntry{200, 0, 1},
                 HandEntry{5, 17000, 2}};
  PackageRecords records;
  ASSERT_TRUE(load(pkg.build(), records)) << records.loadFailure;
  EXPECT_EQ(bytesOf(records.romImage), pkg.pattern(3, 5000));
  EXPECT_EQ(records.romImage.address, 0u);
  EXPECT_EQ(bytesOf(records.secondaryRomImage), pkg.pattern(7, 17000)) << "a run of two blocks, spare bytes left out";
  EXPECT_EQ(records.secondaryRomImage.address, 0x4000u);
  const auto& images = records.contents->images;
  ASSERT_EQ(images.size(), 5u);
  EXPECT_EQ(images[3].type, 8u);
  EXPECT_EQ(images[3].length, 700u) << "the type-8 image takes image 2's length";
}

TEST(PackageLoad, LaterImagesOfATypeReplaceEarlierOnes) {
  HandPackage pkg;
  pkg.entries = {HandEntry{4, 100, 1}, HandEntry{4, 200, 1}, HandEntry{5, 300, 1}, HandEntry{5, 400, 1}};
  PackageRecords records;
  ASSERT_TRUE(load(pkg.build(), records)) << records.loadFailure;
  EXPECT_EQ(bytesOf(records.romImage), pkg.pattern(4, 200));
  EXPECT_EQ(bytesOf(records.secondaryRomImage), pkg.pattern(6, 400));
}

TEST(PackageLoad, ImageNineAndTenLengthsComeFromOffsets148And168) {
  HandPackage pkg;
  for (int i = 0; i < 8; ++i) pkg.entries.push_back(HandEntry{8, 10, 1});
  pkg.entries.push_back(HandEntry{5, 900, 1});
  pkg.entries.push_back(HandEntry{4, 1000, 1});
  PackageRecords records;
  auto& bytes = pkg.build();
  pkg.writeDataLe32(2, 1024 + 164, 0xFFFFFFFF);  // the word before image 10's: never read
  ASSERT_TRUE(load(bytes, records)) << records.loadFailure;
  EXPECT_EQ(records.secondaryRomImage.length, 900u);
  EXPECT_EQ(records.romImage.length, 1000u);
  EXPECT_EQ(bytesOf(records.romImage), pkg.pattern(12, 1000));
}

TEST(PackageLoad, ForbiddenTypeAfterTheThirdEntryLeavesTheRecordsUntouched) {
  for (uint8_t type : {0, 1, 2, 3, 6, 7}) {
    HandPackage good;
    good.entries = {HandEntry{4, 100, 1}};
    PackageRecords records;
    ASSERT_TRUE(load(good.build(), records));
    const PackageRecords before = records;
    HandPackage bad;
    bad.entries = {HandEntry{4, 100, 1}, HandEntry{type, 10, 1}};
    hxtest::LogCapture capture;
    EXPECT_FALSE(load(bad.build(), records)) << int(type);
    const std::string log = capture.text();
    EXPECT_NE(log.find("type " + std::to_string(type)), std::string::npos) << log;
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
    EXPECT_FALSE(records.loaded);
    EXPECT_NE(records.loadFailure, "");
    EXPECT_EQ(records.romImage.data, before.romImage.data);
    EXPECT_EQ(records.bootloader.data, before.bootloader.data);
    EXPECT_EQ(records.contents, before.contents);
  }
}

TEST(PackageLoad, ASecondLoadClearsRecordsTheNewPackageLacks) {
  HandPackage withRom;
  withRom.entries = {HandEntry{4, 100, 1}};
  PackageRecords records;
  ASSERT_TRUE(load(withRom.build(), records));
  HandPackage without;
  ASSERT_TRUE(load(without.build(), records));
  EXPECT_EQ(records.romImage.data, nullptr) << "no record may point into the earlier contents";
}

TEST(PackageLoad, LoadsFromAFileAndNamesAMissingOne) {
  HandPackage pkg;
  pkg.entries = {HandEntry{4, 1234, 1}};
  const auto path = std::filesystem::temp_directory_path() / ("hx-package-" + std::to_string(::getpid()) + ".bin");
  {
    const auto& bytes = pkg.build();
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  PackageRecords records;
  EXPECT_TRUE(loadPackage(path.string(), records)) << records.loadFailure;
  EXPECT_EQ(bytesOf(records.romImage), pkg.pattern(3, 1234));
  std::filesystem::remove(path);
  hxtest::LogCapture capture;
  EXPECT_FALSE(loadPackage(path.string(), records));
  const std::string log = capture.text();
  EXPECT_NE(log.find(path.string()), std::string::npos);
  EXPECT_NE(log.find("cannot open"), std::string::npos) << log;
}

// Packages that must fail to load, each with a word of its reason.
TEST(PackageLoad, HostilePackagesFailCleanly) {
  struct Case {
    const char* name;
    std::function<void(HandPackage&)> setUp;   // before build
    std::function<void(HandPackage&)> damage;  // after build
    const char* reason;
  };
  auto none = [](HandPackage&) {};
  auto entryField = [](size_t index, size_t field, uint32_t value) {
    return [=](HandPackage& p) { storeLe32(p.bytes.data() + 32 + 16 * index + field, value); };
  };
  const std::vector<Case> cases = {
      {"empty file", none, [](HandPackage& p) { p.bytes.clear(); }, "empty"},
      {"header only", none, [](HandPackage& p) { p.bytes.resize(20); }, "header"},
      {"page size 0", none, [](HandPackage& p) { storeLe16(p.bytes.data(), 0); }, "geometry"},
      {"page size 256", none, [](HandPackage& p) { storeLe16(p.bytes.data(), 256); }, "geometry"},
      {"block size 0", none, [](HandPackage& p) { storeLe16(p.bytes.data() + 2, 0); }, "geometry"},
      {"no terminator", none, [](HandPackage& p) { p.bytes.resize(32 + 16 * 3); }, "terminator"},
      {"fifteen 0xFF bytes are an entry, not the terminator", none,
       [](HandPackage& p) { p.bytes[95] = 0; }, "entry 4"},
      {"two entries", none, [](HandPackage& p) { std::memset(p.bytes.data() + 64, 0xFF, 16); }, "fewer than 3"},
      {"entry past the end", [](HandPackage& p) { p.entries = {HandEntry{9, 0, 1}}; }, entryField(3, 0, 1u << 20),
       "past the end"},
      {"4 GiB block count", none, entryField(1, 4, 0xFFFFFFFF), "past the end"},
      {"span below 128", none, [](HandPackage& p) { storeLe32(p.bytes.data() + 16, 127); }, "below 128"},
      {"span past the area", none, [](HandPackage& p) { storeLe32(p.bytes.data() + 16, 16384 - 511); }, "span"},
      {"4 GiB span", none, [](HandPackage& p) { storeLe32(p.bytes.data() + 16, 0xFFFFFFFF); }, "span"},
      {"4 GiB ext bootloader", none,
       [](HandPackage& p) { p.writeDataLe32(0, 512 + p.bootloaderLength + 20, 0xFFFFFFFF); }, "ext bootloader"},
      {"4 GiB image", [](HandPackage& p) { p.entries = {HandEntry{4, 10, 1, 0xFFFFFFFF}}; }, none, "ROM image"},
      {"image past the file", [](HandPackage& p) { p.entries = {HandEntry{5, 10, 1, 16384 * 2}}; }, none,
       "past the end"},
      {"20 images",
       [](HandPackage& p) { p.entries.assign(20, HandEntry{8, 10, 1}); }, none, "more than 19"},
      {"empty FS entry", [](HandPackage& p) { p.entries = {HandEntry{10, 0, 0}}; }, none, "no blocks"},
  };
  for (const Case& c : cases) {
    HandPackage pkg;
    c.setUp(pkg);
    pkg.build();
    c.damage(pkg);
    PackageRecords records;
    hxtest::LogCapture capture;
    EXPECT_FALSE(load(pkg.bytes, records)) << c.name;
    EXPECT_NE(records.loadFailure.find(c.reason), std::string::npos) << c.name << ": " << records.loadFailure;
    EXPECT_EQ(records.bootloader.data, nullptr) << c.name;
  }
}

TEST(PackageLoad, NineteenImagesAndSkippedTypesLoad) {
  HandPackage pkg;
  pkg.entries.assign(19, HandEntry{8, 10, 1});
  pkg.entries.push_back(HandEntry{11, 0, 0});
  pkg.entries.push_back(HandEntry{255, 0, 0});
  PackageRecords records;
  EXPECT_TRUE(load(pkg.build(), records)) << records.loadFailure;
  EXPECT_EQ(records.contents->images.size(), 21u);
}

}  // namespace
}  // namespace hx
