#include "download/fs_writer.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>

#include "event_recorder.h"
#include "fake_nand_agent.h"
#include "fs_image_builder.h"
#include "log_capture.h"

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
  EventRecorder events(43);
  hxtest::LogCapture capture;
  const int rc = writeFsImage({image.data(), static_cast<uint32_t>(image.size()), 0}, phone.nand, kFsStart, kFsLength, events);
  return {rc, events.events};
}

std::vector<uint8_t> infoDataOf(const Phone& phone, uint32_t block) { return phone.nand.dataOf(block); }
uint16_t remapAt(const std::vector<uint8_t>& info, uint32_t index) { return getLe16(info, 2 * index); }
uint16_t counterAt(const std::vector<uint8_t>& info, uint32_t region) { return getLe16(info, 512 - 16 + 2 * region); }

TEST(WriteFsImage, OtherImageVersionIsSkippedWithoutTouchingThePhoneWhateverItsOtherFieldsSay) {
  FsImagePlan plan = defaultPlan();
  plan.layout.version[2] = 1;
  const uint32_t rawBlock = (512 + 16) * 32;
  struct Case {
    const char* what;
    std::function<void(std::vector<uint8_t>&)> change;
  };
  const std::vector<Case> cases = {
      {"as built", [](auto&) {}},
      {"no data blocks", [](auto& image) { le32(image, 12, 0); }},
      {"erase range past its mapping words", [](auto& image) { le32(image, 20, 100); }},
      {"counters end before 16", [](auto& image) { le32(image, 28, 8); }},
      {"data blocks cut off", [&](auto& image) { image.resize(2 * rawBlock); }},
  };
  for (const Case& c : cases) {
    auto image = buildFsImage(plan);
    c.change(image);
    Phone phone;
    const FsRun run = write(phone, image);
    EXPECT_EQ(run.result, 0) << c.what;
    EXPECT_TRUE(phone.nand.log.empty()) << c.what;
    EXPECT_EQ(run.events, (std::vector<RecordedEvent>{{43, 5, 0, "Start Write FS Image"},
                                                      {43, 3, 100, ""},
                                                      {43, 5, 100, "Write FS Image Complete"}}))
        << c.what;
  }
}

TEST(WriteFsImage, ImageWhoseFsHeaderCannotBeFoundIs4056) {
  const uint32_t rawBlock = (512 + 16) * 32;
  auto unmarked = buildFsImage(defaultPlan());
  for (uint32_t p = 0; p < 32; ++p) unmarked[rawBlock + p * (512 + 16) + 512 + 2] = 0xFF;
  auto cut = buildFsImage(defaultPlan());
  cut.resize(2 * rawBlock - 1);  // the info block reaches past the end
  for (const auto& image : {unmarked, cut}) {
    Phone phone;
    EXPECT_EQ(write(phone, image).result, kFsNoHeader);
    EXPECT_TRUE(phone.nand.log.empty());
  }
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

TEST(WriteFsImage, PhoneWithoutTheSparesItNeedsIsRefusedBeforeAnyWrite) {
  // defaultPlan's spares: region 0 150, 151, 152, 197, 198, 199; region 1 160, 161.
  // The phone's info block sits in 199.
  struct Case {
    const char* what;
    uint32_t region;
    uint16_t counter;
  };
  const std::vector<Case> cases = {
      {"every region-1 spare used", 1, 62},
      {"every region-0 spare used", 0, 100},
      {"only the phone's own info block left in region 0", 0, 99},
  };
  for (const Case& c : cases) {
    FsImagePlan phoneInfo = defaultPlan();
    phoneInfo.counters[c.region] = c.counter;
    Phone phone;
    phone.holdInfoBlock(199, phoneInfo);
    EXPECT_EQ(write(phone, buildFsImage(defaultPlan())).result, kFsSparesExhausted) << c.what;
    for (const std::string& command : phone.nand.log) EXPECT_EQ(command.rfind("read", 0), 0u) << c.what << ": " << command;
  }
}

TEST(WriteFsImage, RegionCounterNeverMovesBackwards) {
  // Region 1's spares are listed high first: the second replacement lies
  // below the first, and the counter stays one past the highest.
  FsImagePlan plan = defaultPlan();
  plan.reserved = {{0, 150}, {1, 161}, {1, 160}, {0, 198}, {0, 199}};
  Phone phone;
  phone.nand.failOnProgram = {102, 104};  // data blocks 1 and 3, both region 1
  ASSERT_EQ(write(phone, buildFsImage(plan)).result, 0);
  const auto info = infoDataOf(phone, 199);
  EXPECT_EQ(remapAt(info, 2), 61);
  EXPECT_EQ(remapAt(info, 4), 60);
  EXPECT_EQ(counterAt(info, 1), 62);
}

// A spare named twice in the mapping table is one block, handed out once
// whichever entry, region or end of the list claims it; a spare the phone's
// remap table names already holds that data block. No block is sent two things.
TEST(WriteFsImage, NoSpareIsHandedOutTwice) {
  struct Case {
    const char* what;
    std::vector<MapWord> reserved;
    std::set<uint32_t> failing;                          // fail while programmed
    std::vector<std::pair<uint32_t, uint16_t>> phoneRemaps;  // the phone holds an info block in 195 with these
    int expected;
    std::vector<uint32_t> dataBlocksIn;  // where data blocks 0..3 are afterwards
    uint32_t infoBlockIn;                // 0: no info block is written
  };
  const std::vector<Case> cases = {
      {"the info block's only spare named twice", {{0, 150}, {1, 160}, {0, 150}}, {101}, {}, kFsSparesExhausted,
       {150, 102, 103, 104}, 0},
      {"two data blocks, one spare named twice", {{0, 150}, {0, 150}, {0, 151}, {0, 199}}, {101, 103}, {}, 0,
       {150, 102, 151, 104}, 199},
      {"a spare named in two regions", {{0, 150}, {1, 150}, {1, 160}, {0, 199}}, {101, 102}, {}, 0,
       {150, 160, 103, 104}, 199},
      {"a spare the phone's remap names", {{0, 151}, {1, 160}, {0, 152}, {0, 199}}, {101}, {{3, 51}}, 0,
       {152, 102, 151, 104}, 199},
  };
  for (const Case& c : cases) {
    FsImagePlan plan = defaultPlan();
    plan.reserved = c.reserved;
    Phone phone;
    if (!c.phoneRemaps.empty()) {
      FsImagePlan phoneInfo = plan;
      phoneInfo.remaps = c.phoneRemaps;
      phone.holdInfoBlock(195, phoneInfo);
    }
    phone.nand.failOnProgram = c.failing;
    EXPECT_EQ(write(phone, buildFsImage(plan)).result, c.expected) << c.what;
    for (uint32_t d = 0; d < 4; ++d)
      EXPECT_TRUE(phone.nand.rawOf(c.dataBlocksIn[d]) == dataBlockRaw(plan, d, 32))
          << c.what << ": data block " << d << " is not in block " << c.dataBlocksIn[d];
    const std::vector<std::string> writes = phone.nand.logOf("block");
    EXPECT_EQ(std::set<std::string>(writes.begin(), writes.end()).size(), writes.size()) << c.what;
    if (c.infoBlockIn == 0) {
      EXPECT_EQ(writes.size(), 4 + c.failing.size()) << c.what << ": only the data blocks";
      continue;
    }
    const auto info = infoDataOf(phone, c.infoBlockIn);
    for (uint32_t d = 0; d < 4; ++d)
      EXPECT_EQ(remapAt(info, 1 + d), c.dataBlocksIn[d] == 101 + d ? 0 : c.dataBlocksIn[d] - kBase)
          << c.what << ": remap of data block " << d;
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
  FsImagePlan ninthRegion = defaultPlan();
  ninthRegion.mapped[1].region = 8;  // the info block holds eight counters
  cases.push_back({"region tag 8", ninthRegion, false, kFsDoesNotFit});
  FsImagePlan farSpare = defaultPlan();
  farSpare.reserved[1].block = kBase + 0x10000;  // a remap entry holds 16 bits
  cases.push_back({"spare beyond a 16-bit remap entry", farSpare, false, kFsDoesNotFit});
  FsImagePlan wrappingSpare = defaultPlan();
  wrappingSpare.reserved[1].block = kBase + 0xFFFF;  // its counter, one past it, would wrap to 0
  cases.push_back({"spare whose counter would wrap", wrappingSpare, false, kFsDoesNotFit});
  FsImagePlan twice = defaultPlan();
  twice.mapped[3].block = 101;  // data blocks 0 and 3 in one block
  cases.push_back({"data block named twice", twice, false, kFsNoHeader});
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

// Nothing is formatted for an image that will be refused: on the paths that
// use the image's own info block (the phone holds another version, or none),
// the spares it needs are counted before the format or the erase.
TEST(WriteFsImage, AnImageRefusedForItsSparesHasNothingFormatted) {
  FsImagePlan spent = defaultPlan();
  spent.counters[1] = 62;  // every region-1 spare used
  FsImagePlan otherVersion = defaultPlan();
  otherVersion.layout.version[1] = 1;
  struct Case {
    const char* what;
    bool phoneHoldsOtherVersion;
  };
  for (const Case& c : {Case{"the phone holds another version", true}, Case{"the phone holds none", false}}) {
    Phone phone;
    if (c.phoneHoldsOtherVersion) phone.holdInfoBlock(199, otherVersion);
    const auto before = phone.nand.rawOf(199);
    EXPECT_EQ(write(phone, buildFsImage(spent)).result, kFsSparesExhausted) << c.what;
    for (const std::string& command : phone.nand.log) EXPECT_EQ(command.rfind("read", 0), 0u) << c.what << ": " << command;
    EXPECT_EQ(phone.nand.rawOf(199), before) << c.what;
  }
}

// A read-back that fails while the phone's info block is searched for fails
// the image before anything is formatted: the phone keeps its info block.
TEST(WriteFsImage, AReadBackFailureInTheInfoAreaKeepsThePhonesInfoBlock) {
  FsImagePlan phoneInfo = defaultPlan();
  phoneInfo.remaps = {{1, 70}};
  Phone phone;
  phone.holdInfoBlock(195, phoneInfo);
  phone.nand.readFailures = 3;  // the ROM information, block 199, then block 198 fails
  const auto before = phone.nand.rawOf(195);
  EventRecorder events(43);
  hxtest::LogCapture capture;
  const auto image = buildFsImage(defaultPlan());
  EXPECT_EQ(writeFsImage({image.data(), static_cast<uint32_t>(image.size()), 0}, phone.nand, kFsStart, kFsLength,
                         events),
            kFsWriteFailed);
  EXPECT_EQ(phone.nand.log, (std::vector<std::string>{"read1 2", "read0 199", "read0 198"}));
  EXPECT_EQ(phone.nand.rawOf(195), before);
  EXPECT_EQ(events.why, "the read-back of info area block 198 failed");
}

// Every range of spares is addressed before the first is formatted: a range
// past 4 GiB refuses the image with nothing formatted.
TEST(WriteFsImage, ASpareRangePast4GiBRefusesTheImageBeforeAnyFormat) {
  constexpr uint32_t base = 262100;  // 16 KiB blocks: block 262144 begins at 4 GiB
  FsImagePlan plan;
  plan.mapped = {{0, base + 1}, {0, base + 2}};
  plan.reserved = {{0, base + 5}, {0, base + 6}, {0, base + 38}, {0, base + 39}, {0, base + 44}};
  plan.eraseStartIndex = 2;
  plan.layout = {(base + 40) * kB, 4 * kB, (base + 1) * kB, 2 * kB, {5, 2, 0}};
  Phone phone(base * kB, 44 * kB);
  EXPECT_EQ(write(phone, buildFsImage(plan)).result, kFsDoesNotFit);
  EXPECT_TRUE(phone.nand.logOf("format").empty());
  EXPECT_TRUE(phone.nand.logOf("block").empty());
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
  hxtest::LogCapture capture;
  EXPECT_EQ(writeFsImage({image.data(), static_cast<uint32_t>(image.size()), 0}, refusing, kFsStart, kFsLength, quiet()),
            kFsWriteFailed);
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
  hxtest::LogCapture capture;
  const auto image = buildFsImage(plan);
  EXPECT_EQ(writeFsImage({image.data(), static_cast<uint32_t>(image.size()), 0}, phone.nand, base * kB, 100 * kB, events), 0);
  EXPECT_EQ(phone.nand.rawOf(base + 8), dataBlockRaw(plan, 0, 32));  // not the wrapped target's block base + 5
  const auto info = infoDataOf(phone, base + 9);
  EXPECT_EQ(remapAt(info, 1), 8);
  EXPECT_EQ(counterAt(info, 0), 9);
}

}  // namespace
}  // namespace hx::test
