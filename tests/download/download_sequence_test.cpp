#include "download/download_sequence.h"

#include <gtest/gtest.h>

#include <cstring>

#include "event_recorder.h"
#include "protocol/agent_commands.h"
#include "fs_image_builder.h"
#include "scripted_link.h"
#include "log_capture.h"

namespace hx::test {
namespace {

void putLe32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// A package the verdict accepts: a bootloader with its information record,
// a ROM image with its ROM information, a secondary ROM image, no FS images.
struct TestPackage {
  TestPackage() : bootloader(1000, 0x11), ext(500, 0x22), rom(2000, 0), secondary(1000, 0x44) {
    const size_t record = bootloader.size() - 4 - 108;
    std::memcpy(bootloader.data() + record, "MTK_BLOADER_INFO_v1", 19);
    std::memset(bootloader.data() + record + 19, 0, 108 - 19);
    putLe32(bootloader, bootloader.size() - 4, 108);
    std::memcpy(rom.data() + 0x100, "MTK_ROMINFO_v05", 15);
    rom[0x100 + 210] = 3;                              // three area entries
    putLe32(rom, 0x100 + 236, 100 * 16384);            // entry 1: the FS area
    putLe32(rom, 0x100 + 240, 50 * 16384);
    putLe32(rom, 0x100 + 252, 0x1230000);              // entry 2: what the FS writer may format
    putLe32(rom, 0x100 + 256, 0x40000);
    std::memcpy(rom.data() + 0x100 + 332, "05200001", 8);
    records.bootloader = {bootloader.data(), static_cast<uint32_t>(bootloader.size()), 0};
    records.extBootloader = {ext.data(), static_cast<uint32_t>(ext.size()), 0};
    records.romImage = {rom.data(), static_cast<uint32_t>(rom.size()), 0};
    records.secondaryRomImage = {secondary.data(), static_cast<uint32_t>(secondary.size()), 0x4000};
    records.loaded = true;
    prepareAgentImages(records, images);
  }
  DownloadInputs inputs(uint32_t fsImages = 0) const { return {&images, &records, fsImages}; }

  std::vector<uint8_t> bootloader, ext, rom, secondary;
  PackageRecords records;
  SessionImages images;
};

void scriptConnection(ScriptedLink& link) {
  link.reply({0xC0, 0x03, 0x02, 0x14, 0x5A, 0x5A, 0x00});  // ready, version, chip, NOR table stopped, no NAND table
  link.replyBytes(std::vector<uint8_t>(28 + 53, 0x01));
  link.reply({0x5A});
  link.replyBytes(std::vector<uint8_t>(9, 0x02));
  link.reply({0x5A});  // E0
}

void scriptSharedData(ScriptedLink& link, bool failThird) {
  for (int i = 0; i < 4; ++i) {
    if (failThird && i == 2) {
      link.replyU32(7);
      continue;
    }
    link.replyU32(0);
    link.reply({0x5A, 0x5A});
    link.replyU32(2);
    link.reply({0xAB, 0xCD});
  }
}

void scriptUpToNfb(ScriptedLink& link, bool failSharedData = false) {
  scriptConnection(link);
  scriptSharedData(link, failSharedData);
  link.reply({0x5A, 0x5A, 0x69, 0x69, 0x5A});  // bootloader: command, header, ext packet, bootloader packet, done
  link.reply({0x5A, 0x5A, 0x5A});              // image list
  link.reply({0x5A, 0x5A, 0x69, 0x69});        // NFB: command, chunk size, one chunk per image
}

std::string run(ScriptedLink& link, const DownloadInputs& inputs, int* result) {
  FastClock fast;
  hxtest::LogCapture capture;
  *result = runDownload(link, inputs, quiet());
  return capture.text();
}

TEST(RunDownload, StepsInOrderWithTheirLogLines) {
  // No FS images to write, or only empty FS image records: both go from the
  // NFB images straight to the watchdog.
  for (uint32_t fsImages : {0u, 4u}) {
    const TestPackage package;
    ScriptedLink link;
    scriptUpToNfb(link, true);
    link.reply({0x5A, 0x5A, 0x5A, 0x5A, 0x5A});  // NFB final checks
    link.reply({0x00});                          // the watchdog answer is not looked at
    int rc = -1;
    const std::string log = run(link, package.inputs(fsImages), &rc);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(log,
              "Connecting to DA...\n"
              "Bootloader shared data (type = 10000) is read\n"
              "Bootloader shared data (type = 10001) is read\n"
              "Failed to read bootloader shared data (type = 10002)\n"
              "Bootloader shared data (type = 10003) is read\n"
              "Write Boot loader...\n"
              "Send NAND Image List...\n"
              "Write NFB images...\n"
              ".\n"
              ".\n"
              "Enable Watch Dog...\n");
    EXPECT_EQ(link.unread(), 0u);
    EXPECT_EQ(std::vector<uint8_t>(link.sent.end() - 3, link.sent.end()), (std::vector<uint8_t>{0xDB, 0x00, 0x40}));
  }
}

TEST(RunDownload, FailedNfbWriteLeavesFsImagesAndWatchdogAlone) {
  TestPackage package;
  FsImagePlan plan;
  plan.mapped = {{0, 101}};
  plan.reserved = {{0, 120}, {0, 121}};
  plan.eraseStartIndex = 1;
  plan.layout = {140 * 16384, 2 * 16384, 101 * 16384, 16384, {5, 2, 0}};
  const std::vector<uint8_t> fsImage = buildFsImage(plan);
  package.records.fsImages[0] = {fsImage.data(), static_cast<uint32_t>(fsImage.size()), 0};
  package.records.fsImagesInPackage = 1;
  ScriptedLink link;
  scriptUpToNfb(link);
  link.reply({0x00});
  int rc = -1;
  const std::string log = run(link, package.inputs(4), &rc);
  EXPECT_NE(rc, 0);
  EXPECT_EQ(log.find("Write FS images"), std::string::npos);
  EXPECT_EQ(log.find("Enable Watch Dog"), std::string::npos);
  ASSERT_FALSE(link.sent.empty());
  EXPECT_NE(link.sent.back(), 0x40);
}

TEST(RunDownload, RefusedPackagesSendNothing) {
  struct Case {
    const char* what;
    void (*spoil)(TestPackage&);
  };
  static std::vector<uint8_t> fsBytes(64, 0);
  const Case cases[] = {
      {"not loaded", [](TestPackage& p) { p.records.loaded = false; }},
      {"no ROM information", [](TestPackage& p) { std::memset(p.rom.data() + 0x100, 0, 13); }},
      {"five FS images", [](TestPackage& p) { p.records.fsImagesInPackage = 5; }},
      {"five FS image records",
       [](TestPackage& p) {
         for (int i = 0; i < 5; ++i) p.records.fsImages[i] = {fsBytes.data(), 64, 0};
         p.records.fsImagesInPackage = 5;
       }},
      {"malformed FS image",
       [](TestPackage& p) {
         p.records.fsImages[0] = {fsBytes.data(), 64, 0};
         p.records.fsImagesInPackage = 1;
       }},
      {"no bootloader information", [](TestPackage& p) { p.records.bootloader.length = 3; }},
  };
  for (const Case& c : cases) {
    TestPackage package;
    c.spoil(package);
    ScriptedLink link;
    scriptUpToNfb(link);
    int rc = 0;
    const std::string log = run(link, package.inputs(4), &rc);
    EXPECT_EQ(rc, kDownloadRefused) << c.what;
    EXPECT_TRUE(link.sent.empty()) << c.what;
    EXPECT_EQ(log.rfind("Download refused: ", 0), 0u) << c.what << ": " << log;
  }
}

TEST(RunDownload, AgentConnectionFailureEndsTheSequence) {
  const TestPackage package;
  ScriptedLink link;
  link.reply({0xC0, 0x03, 0x01});
  int rc = 0;
  const std::string log = run(link, package.inputs(4), &rc);
  EXPECT_EQ(rc, kAgentVersionWrong);
  EXPECT_EQ(log, "Connecting to DA...\n");
}

}  // namespace
}  // namespace hx::test
