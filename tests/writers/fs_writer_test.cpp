#include "nand/fs_writer.h"

#include <gtest/gtest.h>

#include "event_recorder.h"
#include "fake_nand_agent.h"
#include "fs_image_builder.h"

namespace hx::test {
namespace {

constexpr uint32_t kB = 16384;  // 512-byte pages, 32 pages per block
constexpr uint32_t kBase = 100;
constexpr uint32_t kFsStart = kBase * kB, kFsLength = 100 * kB;

FsImagePlan defaultPlan() {
  FsImagePlan s;
  s.mapped = {{0, 101}, {1, 102}, {0, 103}, {1, 104}};
  s.reserved = {{0, 150}, {1, 160}, {0, 151}, {1, 161}, {0, 152}, {0, 197}, {0, 198}, {0, 199}};
  s.eraseStartIndex = 4;
  s.layout = {190 * kB, 10 * kB, 101 * kB, 4 * kB, {5, 2, 0}};
  return s;
}

struct Phone {
  explicit Phone(uint32_t fsStart = kFsStart, uint32_t fsLength = kFsLength) : nand(512, 32, 1u << 20) {
    const auto record = romInfoRecord(fsStart, fsLength);
    std::copy(record.begin(), record.end(), nand.raw(2).begin() + 0x40);
  }
  void holdInfoBlock(uint32_t block, const FsImagePlan& plan) { nand.raw(block) = infoBlockRaw(plan); }
  FakeNandAgent nand;
};

struct FsRun {
  int result;
  std::vector<RecordedEvent> events;
};

FsRun write(Phone& phone, const std::vector<uint8_t>& image) {
  EventRecorder events;
  testing::internal::CaptureStdout();
  const int rc = writeFsImage({image.data(), static_cast<uint32_t>(image.size()), 0}, phone.nand, kFsStart, kFsLength, 43);
  testing::internal::GetCapturedStdout();
  return {rc, events.events};
}

std::vector<uint8_t> infoDataOf(const Phone& phone, uint32_t block) { return phone.nand.dataOf(block); }
uint16_t remapAt(const std::vector<uint8_t>& info, uint32_t index) { return getLe16(info, 2 * index); }
uint16_t counterAt(const std::vector<uint8_t>& info, uint32_t region) { return getLe16(info, 512 - 16 + 2 * region); }

TEST(WriteFsImage, OtherImageVersionIsSkippedWithoutTouchingThePhone) {
  FsImagePlan plan = defaultPlan();
  plan.layout.version[2] = 1;
  Phone phone;
  const FsRun run = write(phone, buildFsImage(plan));
  EXPECT_EQ(run.result, 0);
  EXPECT_TRUE(phone.nand.log.empty());
  EXPECT_EQ(run.events, (std::vector<RecordedEvent>{
                            {43, 5, 0, "Start Write FS Image"}, {43, 3, 100, ""}, {43, 5, 100, "Write FS Image Complete"}}));
}

TEST(WriteFsImage, FreshPhoneGetsItsSparesFormattedThenDataThenInfoBlock) {
  const FsImagePlan plan = defaultPlan();
  const auto image = buildFsImage(plan);
  Phone phone;
  const FsRun run = write(phone, image);
  ASSERT_EQ(run.result, 0);
  EXPECT_EQ(phone.nand.logOf("format"), (std::vector<std::string>{"format 110 150+3", "format 110 160+2", "format 110 197+3"}));
  EXPECT_EQ(phone.nand.logOf("block"), (std::vector<std::string>{"block 101", "block 102", "block 103", "block 104", "block 199"}));
  EXPECT_LT(phone.nand.indexOf("format 110 197+3"), phone.nand.indexOf("block 101"));
  // Data and info block as the image holds them.
  for (uint32_t d = 0; d < 4; ++d) EXPECT_EQ(phone.nand.rawOf(101 + d), dataBlockRaw(plan, d, 32)) << d;
  EXPECT_EQ(phone.nand.rawOf(199), infoBlockRaw(plan));
  // Events: start, progress per block, 100 and nothing after it.
  EXPECT_EQ(run.events, (std::vector<RecordedEvent>{{43, 5, 0, "Start Write FS Image"},
                                                    {43, 3, 0, ""},
                                                    {43, 3, 25, ""},
                                                    {43, 3, 50, ""},
                                                    {43, 3, 75, ""},
                                                    {43, 3, 100, ""}}));
}

TEST(WriteFsImage, FewProgrammedPagesGoOutAsWritePages) {
  FsImagePlan plan = defaultPlan();
  plan.programmedPages = {3, 4, 0, 32};
  Phone phone;
  ASSERT_EQ(write(phone, buildFsImage(plan)).result, 0);
  EXPECT_EQ(phone.nand.logOf("pages"), (std::vector<std::string>{"pages 101 [0,1,2]", "pages 103 []"}));
  EXPECT_EQ(phone.nand.logOf("block"), (std::vector<std::string>{"block 102", "block 104", "block 199"}));
}

TEST(WriteFsImage, BadBlocksGoToSparesOfTheirRegionAndTheRemapNamesTheSpareWritten) {
  const FsImagePlan plan = defaultPlan();
  Phone phone;
  phone.nand.markFactoryBad(102);       // data block 1, region 1
  phone.nand.failOnProgram = {103, 150};  // data block 2, region 0: fails, and so does its first spare
  ASSERT_EQ(write(phone, buildFsImage(plan)).result, 0);
  EXPECT_EQ(phone.nand.rawOf(160), dataBlockRaw(plan, 1, 32));
  EXPECT_EQ(phone.nand.rawOf(151), dataBlockRaw(plan, 2, 32));
  const auto info = infoDataOf(phone, 199);
  EXPECT_EQ(remapAt(info, 1), 0);
  EXPECT_EQ(remapAt(info, 2), 60);  // 160 - base, not the counter's 0 ("no replacement")
  EXPECT_EQ(remapAt(info, 3), 51);  // the spare written after two failures
  EXPECT_EQ(counterAt(info, 0), 52);
  EXPECT_EQ(counterAt(info, 1), 61);
}

TEST(WriteFsImage, ConsecutiveSparesFollowTheCounter) {
  FsImagePlan phoneInfo = defaultPlan();
  phoneInfo.counters[0] = 50;  // next region-0 spare is 150
  Phone phone;
  phone.holdInfoBlock(195, phoneInfo);
  phone.nand.failOnProgram = {101, 150};
  ASSERT_EQ(write(phone, buildFsImage(defaultPlan())).result, 0);
  const auto info = infoDataOf(phone, 199);
  EXPECT_EQ(remapAt(info, 1), 51);  // counter c = 50: entry c + 1 ...
  EXPECT_EQ(counterAt(info, 0), 52);  // ... and counter c + 2
}

TEST(WriteFsImage, SameVersionCarriesThePhonesRemapsAndCountersOver) {
  FsImagePlan plan = defaultPlan();
  plan.reserved.push_back({1, 162});
  FsImagePlan phoneInfo = plan;
  phoneInfo.remaps = {{3, 61}};  // data block 2 lives in block 161
  phoneInfo.counters[0] = 52;    // region-0 spares below 152 are used
  phoneInfo.counters[1] = 62;
  Phone phone;
  phone.holdInfoBlock(199, phoneInfo);
  phone.nand.failOnProgram = {101};
  ASSERT_EQ(write(phone, buildFsImage(plan)).result, 0);
  EXPECT_TRUE(phone.nand.logOf("format 110").empty());
  EXPECT_EQ(phone.nand.rawOf(161), dataBlockRaw(defaultPlan(), 2, 32));
  EXPECT_EQ(phone.nand.rawOf(152), dataBlockRaw(defaultPlan(), 0, 32));  // first free spare at or past 152
  // The new info block is the phone's old one with this run's updates, written
  // beside the old one, which is formatted only afterwards.
  const auto info = infoDataOf(phone, 198);
  EXPECT_EQ(remapAt(info, 3), 61);
  EXPECT_EQ(remapAt(info, 1), 52);
  EXPECT_EQ(counterAt(info, 0), 53);
  EXPECT_EQ(counterAt(info, 1), 62);
  EXPECT_LT(phone.nand.indexOf("block 198"), phone.nand.indexOf("format 100 199+1"));
  EXPECT_TRUE(phone.nand.logOf("block 199").empty());
}

TEST(WriteFsImage, PhonesInfoBlockIsNeverWrittenOver) {
  // The phone's info block sits in the first region-0 spare: a data block
  // that needs a spare must skip it.
  FsImagePlan phoneInfo = defaultPlan();
  Phone phone;
  phone.holdInfoBlock(197, phoneInfo);
  FsImagePlan plan = defaultPlan();
  plan.reserved = {{0, 197}, {1, 160}, {0, 151}, {0, 198}, {0, 199}};
  plan.layout.infoAreaStart = 195 * kB;
  plan.layout.infoAreaLength = 5 * kB;
  phoneInfo.layout = plan.layout;
  phone.holdInfoBlock(197, phoneInfo);
  phone.nand.failOnProgram = {101};
  ASSERT_EQ(write(phone, buildFsImage(plan)).result, 0);
  EXPECT_TRUE(phone.nand.logOf("block 197").empty());
  EXPECT_EQ(phone.nand.rawOf(151), dataBlockRaw(plan, 0, 32));
  EXPECT_EQ(phone.nand.logOf("format"), (std::vector<std::string>{"format 100 197+1"}));
}

TEST(WriteFsImage, OtherVersionOnThePhoneFormatsTheFsArea) {
  FsImagePlan phoneInfo = defaultPlan();
  phoneInfo.layout.version[1] = 1;
  phoneInfo.remaps = {{1, 70}};
  Phone phone;
  phone.holdInfoBlock(199, phoneInfo);
  ASSERT_EQ(write(phone, buildFsImage(defaultPlan())).result, 0);
  EXPECT_EQ(phone.nand.log.front().rfind("read", 0), 0u);
  const auto formats = phone.nand.logOf("format");
  ASSERT_EQ(formats.size(), 2u);
  EXPECT_EQ(formats[0], "format 101 100+100");
  EXPECT_EQ(formats[1], "format 100 199+1");
  // The image's own info block is used: the phone's remap is not followed.
  EXPECT_EQ(phone.nand.logOf("block"), (std::vector<std::string>{"block 101", "block 102", "block 103", "block 104", "block 198"}));
}

TEST(WriteFsImage, SameVersionOtherLayoutIsRefused) {
  FsImagePlan phoneInfo = defaultPlan();
  phoneInfo.layout.volumeLength = 5 * kB;
  Phone phone;
  phone.holdInfoBlock(199, phoneInfo);
  EXPECT_EQ(write(phone, buildFsImage(defaultPlan())).result, kFsDoesNotFit);
  EXPECT_TRUE(phone.nand.logOf("block").empty());
}

TEST(WriteFsImage, RunningOutOfSparesIs3051) {
  Phone phone;
  phone.nand.alwaysFail = {102, 160, 161};
  EXPECT_EQ(write(phone, buildFsImage(defaultPlan())).result, kFsSparesExhausted);
  EXPECT_TRUE(phone.nand.logOf("block 199").empty());
}

TEST(WriteFsImage, RegionWithAllSparesUsedFailsOnlyWhenOneIsNeeded) {
  // The phone has used both region-1 spares (160, 161): its counter is past them.
  FsImagePlan phoneInfo = defaultPlan();
  phoneInfo.remaps = {{2, 60}, {4, 61}};  // data blocks 1 and 3 live in 160 and 161
  phoneInfo.counters[1] = 62;
  {
    Phone phone;
    phone.holdInfoBlock(199, phoneInfo);
    ASSERT_EQ(write(phone, buildFsImage(defaultPlan())).result, 0);
    EXPECT_EQ(phone.nand.rawOf(160), dataBlockRaw(defaultPlan(), 1, 32));
    EXPECT_EQ(phone.nand.rawOf(161), dataBlockRaw(defaultPlan(), 3, 32));
  }
  {
    Phone phone;
    phone.holdInfoBlock(199, phoneInfo);
    phone.nand.failOnProgram = {160};  // a region-1 block goes bad: no spare is left for it
    EXPECT_EQ(write(phone, buildFsImage(defaultPlan())).result, kFsSparesExhausted);
  }
}

TEST(WriteFsImage, PhoneWithoutRomInfoIs1024) {
  Phone phone;
  phone.nand.raw(2).assign(phone.nand.rawBlockSize(), 0xFF);
  EXPECT_EQ(write(phone, buildFsImage(defaultPlan())).result, kFsNoPhoneRomInfo);
  EXPECT_EQ(phone.nand.logOf("read").size(), 8u);
  EXPECT_EQ(phone.nand.log.size(), 8u);
  Phone failing;
  failing.nand.readFailures = 1;
  EXPECT_EQ(write(failing, buildFsImage(defaultPlan())).result, kFsNoPhoneRomInfo);
}

TEST(WriteFsImage, ImagesThatDoNotFitAreRefusedBeforeAnythingIsWritten) {
  struct Case {
    const char* what;
    FsImagePlan plan;
    bool truncate;
    int expected;
  };
  std::vector<Case> cases;
  cases.push_back({"fits", defaultPlan(), false, 0});
  cases.push_back({"shorter than declared", defaultPlan(), true, kFsNoHeader});
  FsImagePlan counters = defaultPlan();
  counters.countersEnd = kB + 2;
  cases.push_back({"counters outside the info block", counters, false, kFsNoHeader});
  FsImagePlan remaps = defaultPlan();
  remaps.mapped = {{0, 100 + kB / 2}, {1, 102}};
  remaps.eraseStartIndex = 2;
  remaps.layout.volumeStart = 101 * kB;
  cases.push_back({"remap entries outside the info block", remaps, false, kFsDoesNotFit});
  FsImagePlan below = defaultPlan();
  below.mapped[0].block = 99;
  cases.push_back({"mapped block below the FS area", below, false, kFsDoesNotFit});
  FsImagePlan spareAtBase = defaultPlan();
  spareAtBase.reserved[0].block = 100;
  cases.push_back({"spare at the FS area start", spareAtBase, false, kFsDoesNotFit});
  FsImagePlan outside = defaultPlan();
  outside.layout.volumeLength = 100 * kB;
  cases.push_back({"volume past the FS area", outside, false, kFsDoesNotFit});
  for (const Case& c : cases) {
    Phone phone;
    auto image = buildFsImage(c.plan);
    if (c.truncate) image.resize(image.size() - 1);
    EXPECT_EQ(write(phone, image).result, c.expected) << c.what;
    if (c.expected != 0) {
      EXPECT_TRUE(phone.nand.logOf("block").empty()) << c.what;
      EXPECT_TRUE(phone.nand.logOf("format").empty()) << c.what;
      EXPECT_TRUE(phone.nand.logOf("pages").empty()) << c.what;
    }
  }
}

TEST(WriteFsImage, FailedWritesAndFormatsAre4008) {
  Phone formatting;
  formatting.nand.formatFails = true;
  EXPECT_EQ(write(formatting, buildFsImage(defaultPlan())).result, kFsWriteFailed);

  struct Refusing : FakeNandAgent {
    using FakeNandAgent::FakeNandAgent;
    int writeBlock(uint32_t, const BlockPages&, uint16_t) override { return kBlockCommandFailed; }
  };
  Phone phone;
  Refusing refusing(512, 32, 256);
  refusing.blocks = phone.nand.blocks;
  const auto image = buildFsImage(defaultPlan());
  testing::internal::CaptureStdout();
  EXPECT_EQ(writeFsImage({image.data(), static_cast<uint32_t>(image.size()), 0}, refusing, kFsStart, kFsLength, 1),
            kFsWriteFailed);
  testing::internal::GetCapturedStdout();
}

TEST(WriteFsImage, CounterPlusBaseIsComparedInFullWidth) {
  // A device whose FS area starts at block 65530: counter 8 + base is block
  // 65538, past 16 bits.
  constexpr uint32_t base = 65530;
  FsImagePlan plan;
  plan.mapped = {{0, base + 1}, {0, base + 2}};
  plan.reserved = {{0, base + 5}, {0, base + 6}, {0, base + 7}, {0, base + 8}, {0, base + 9}, {0, base + 10}};
  plan.eraseStartIndex = 2;
  plan.layout = {(base + 9) * kB, 2 * kB, (base + 1) * kB, 2 * kB, {5, 2, 0}};
  FsImagePlan phoneInfo = plan;
  phoneInfo.counters[0] = 8;
  Phone phone(base * kB, 100 * kB);
  phone.holdInfoBlock(base + 10, phoneInfo);
  phone.nand.failOnProgram = {base + 1};
  EventRecorder events;
  testing::internal::CaptureStdout();
  const auto image = buildFsImage(plan);
  EXPECT_EQ(writeFsImage({image.data(), static_cast<uint32_t>(image.size()), 0}, phone.nand, base * kB, 100 * kB, 1), 0);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(phone.nand.rawOf(base + 8), dataBlockRaw(plan, 0, 32));  // not the wrapped target's block base + 5
  const auto info = infoDataOf(phone, base + 9);
  EXPECT_EQ(remapAt(info, 1), 8);
  EXPECT_EQ(counterAt(info, 0), 9);
}

}  // namespace
}  // namespace hx::test
