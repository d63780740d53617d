// The agent's connection and its commands up to the NFB images, driven by
// the test host.
#include <gtest/gtest.h>

#include <ostream>

#include "host_driver.h"
#include "hxphone/agent_commands.h"
#include "hxphone/flash_layout.h"
#include "hxphone/virtual_phone.h"
#include "hxphone/wire.h"
#include "test_images.h"

namespace hxphone::test {
namespace {

class Agent : public ::testing::Test {
 protected:
  void connect(const PhoneOptions& options) {
    m_phone = std::make_unique<VirtualPhone>(options, freshNand(options));
    m_host = std::make_unique<HostDriver>(*m_phone);
    m_host->connectBootRom(da1Image(), da2Image());
  }
  std::unique_ptr<VirtualPhone> m_phone;
  std::unique_ptr<HostDriver> m_host;
};

TEST_F(Agent, GreetsWithReadyVersionAndChipAfterGarbage) {
  PhoneOptions options = largePagePhone();
  options.faults.garbageBeforeReady = 5;
  options.chipType = 0x15;
  connect(options);
  auto hello = m_host->awaitAgent();
  EXPECT_EQ(hello.skipped, 5u);
  EXPECT_EQ(hello.version[0], 0x03);
  EXPECT_EQ(hello.version[1], 0x02);
  EXPECT_EQ(hello.chipType, 0x15);
  // Chip 0x15 must get 20 02 21 13 as its NFI_ACCCON word.
  m_host->sendConfiguration(0x15);
  EXPECT_EQ(m_host->sendTable(norTable(), 36), -1);
}

TEST_F(Agent, EndlessGarbageNeverSendsReady) {
  PhoneOptions options = largePagePhone();
  options.faults.endlessGarbage = true;
  connect(options);
  for (int i = 0; i < 300; ++i) ASSERT_NE(m_host->receiveU8(), 0xC0);
}

TEST_F(Agent, WrongConfigurationWordIsAViolation) {
  connect(largePagePhone());
  m_host->awaitAgent();
  // The phone reported 0x20: 70 07 FF FF was due, not 20 02 21 13.
  EXPECT_THROW(
      {
        m_host->sendConfiguration(0x15);
        m_host->sendTable(norTable(), 36);
      },
      std::runtime_error);
  EXPECT_EQ(m_host->finish(), Outcome::Failed);
  EXPECT_NE(m_phone->failure().find("NFI_ACCCON"), std::string::npos) << m_phone->failure();
}

struct TableCase {
  const char* name;
  PhoneOptions (*options)();
  int matchedRecord;
};

// Test names and messages show the case by its name.
void PrintTo(const TableCase& c, std::ostream* out) { *out << c.name; }

class AgentTables : public Agent, public ::testing::WithParamInterface<TableCase> {};

TEST_P(AgentTables, StopsTheNandTableAtItsOwnRecord) {
  connect(GetParam().options());
  auto hello = m_host->awaitAgent();
  m_host->sendConfiguration(hello.chipType);
  EXPECT_EQ(m_host->sendTable(norTable(), 36), -1);  // no NOR flash: all 209 records
  EXPECT_EQ(m_host->receiveU8(), 0x5A);              // NAND flash detected
  EXPECT_EQ(m_host->sendTable(nandTable(), 52), GetParam().matchedRecord);
  EXPECT_EQ(m_host->receive(28).size(), 28u);
  EXPECT_EQ(m_host->receive(53).size(), 53u);
  EXPECT_EQ(m_host->receiveU8(), 0x5A);
  m_host->receive(9);
  EXPECT_EQ(m_host->commandE0(), 0x5A);
}

INSTANTIATE_TEST_SUITE_P(Geometries, AgentTables,
                         ::testing::Values(TableCase{"LargePage", largePagePhone, kLargePageRecord},
                                           TableCase{"SmallPage", smallPagePhone, kSmallPageRecord}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_F(Agent, NorPhoneStopsTheNorTableEarly) {
  PhoneOptions options = largePagePhone();
  options.norDeviceId = 0x2202;  // the third NOR record
  connect(options);
  m_host->sendConfiguration(m_host->awaitAgent().chipType);
  EXPECT_EQ(m_host->sendTable(norTable(), 36), 2);
}

TEST_F(Agent, NoMatchingNandRecordFailsLoudly) {
  PhoneOptions options = largePagePhone();
  options.nandDevice = 0xAA;
  connect(options);
  m_host->sendConfiguration(m_host->awaitAgent().chipType);
  m_host->sendTable(norTable(), 36);
  m_host->receiveU8();
  EXPECT_EQ(m_host->sendTable(nandTable(), 52), -1);
  EXPECT_EQ(m_host->finish(), Outcome::Failed);
  EXPECT_NE(m_phone->failure().find("maker 0xEC device 0xAA"), std::string::npos) << m_phone->failure();
}

TEST_F(Agent, TableWithWrongRecordCountIsRefused) {
  connect(largePagePhone());
  m_host->sendConfiguration(m_host->awaitAgent().chipType);
  Bytes shortTable(208 * 36, 0);
  m_host->sendU32(208);
  EXPECT_EQ(m_host->finish(), Outcome::Failed);
  EXPECT_NE(m_phone->failure().find("209 records"), std::string::npos) << m_phone->failure();
}

class AgentCommands : public Agent {
 protected:
  void SetUp() override {
    connect(largePagePhone());
    m_host->connectAgent(norTable(), nandTable());
  }
};

TEST_F(AgentCommands, SharedDataReadsComeInTypeOrder) {
  EXPECT_EQ(m_host->commandE0(), 0x5A);
  EXPECT_EQ(m_host->sharedData(0x10000), sharedDataFor(0x10000));
  EXPECT_EQ(m_host->sharedData(0x10001), sharedDataFor(0x10001));
  m_host->sendU8(0xBE);
  m_host->receive(5);
  m_host->sendU32(0x10003);  // 0x10002 skipped
  EXPECT_EQ(m_host->finish(), Outcome::Failed);
  EXPECT_NE(m_phone->failure().find("expected 0x10002"), std::string::npos) << m_phone->failure();
}

TEST_F(AgentCommands, CommandOutOfOrderIsAViolation) {
  m_host->sendU8(0xDC);  // the bootloader before E0 and the shared data
  EXPECT_EQ(m_host->finish(), Outcome::Failed);
  EXPECT_NE(m_phone->failure().find("command order"), std::string::npos) << m_phone->failure();
}

TEST_F(AgentCommands, BootloaderWithItsInformationIsStoredFromBlock0) {
  m_host->commandE0();
  for (uint32_t t : kSharedDataTypes) m_host->sharedData(t);
  Bytes bootloader = bootloaderImage(9000, kBootloaderSeed);
  Bytes ext = patternBytes(5001, 3);  // a final partial word
  m_host->writeBootloader(bootloader, ext);
  m_host->finish();
  BlockExtent where;
  EXPECT_EQ(loadPageData(m_phone->nand(), 0, bootloader.size(), &where), bootloader);
  EXPECT_EQ(loadPageData(m_phone->nand(), where.end, ext.size(), nullptr), ext);
  auto images = m_phone->record()["images"];
  ASSERT_EQ(images.size(), 2u);
  EXPECT_EQ(images[0]["name"], "bootloader");
  EXPECT_EQ(images[1]["name"], "ext-bootloader");
  EXPECT_EQ(images[1]["length"], 5001u);
}

TEST_F(AgentCommands, BootloaderPacketWithWrongSumIsRefused) {
  m_host->commandE0();
  for (uint32_t t : kSharedDataTypes) m_host->sharedData(t);
  Bytes bootloader = bootloaderImage(3000, kBootloaderSeed);
  uint32_t seed = kBootloaderSeed;
  m_host->sendU8(0xDC);
  EXPECT_EQ(m_host->receiveU8(), 0x5A);
  m_host->sendU32(4096);
  m_host->send({0x11, 0x22, 0x33, 0x44});
  m_host->sendU32(3000);
  m_host->sendU32(0xCAFEF00D);
  m_host->sendU32(wordXor32(bootloader, seed));
  m_host->send(Bytes(32, 0));
  m_host->sendU8(0x5A);
  m_host->sendU32(0);
  m_host->sendU32(seed);
  EXPECT_EQ(m_host->receiveU8(), 0x5A);
  m_host->send(bootloader);
  m_host->sendU16(static_cast<uint16_t>(byteSum16(bootloader) + 1));
  EXPECT_EQ(m_host->receiveU8(), 0xA5);
  EXPECT_EQ(m_host->finish(), Outcome::Failed);
}

TEST_F(AgentCommands, BootloaderChecksumAgainstTheWrongSeedIsRefused) {
  m_host->commandE0();
  for (uint32_t t : kSharedDataTypes) m_host->sharedData(t);
  // The checksums are made with another seed than the record's.
  Bytes bootloader = bootloaderImage(3000, kBootloaderSeed);
  EXPECT_THROW(m_host->writeBootloader(bootloader, patternBytes(10, 1), kBootloaderSeed ^ 1), std::runtime_error);
  EXPECT_EQ(m_host->finish(), Outcome::Failed);
  EXPECT_NE(m_phone->failure().find("bootloader checksum"), std::string::npos) << m_phone->failure();
}

TEST_F(AgentCommands, ImagesListedAndStoredFromBlock2) {
  Bytes primary = primaryRomImage(300000, 0x1234);
  Bytes secondary = patternBytes(70000, 9);
  m_host->commandE0();
  for (uint32_t t : kSharedDataTypes) m_host->sharedData(t);
  m_host->writeBootloader(bootloaderImage(9000, kBootloaderSeed), patternBytes(5000, 3));
  m_host->sendImageList(primary, secondary);
  m_host->writeNfb(primary, secondary);
  EXPECT_EQ(m_host->enableWatchdog(64), 0x5A);
  EXPECT_EQ(m_host->finish(), Outcome::Reset);
  // The ROM area from block 2: primary, 0x4000 erased bytes, secondary.
  Bytes area = loadPageData(m_phone->nand(), kPrimaryRomFirstBlock, primary.size() + 0x4000 + secondary.size(), nullptr);
  EXPECT_EQ(Bytes(area.begin(), area.begin() + 300000), primary);
  EXPECT_EQ(Bytes(area.begin() + 300000, area.begin() + 300000 + 0x4000), Bytes(0x4000, 0xFF));
  EXPECT_EQ(Bytes(area.begin() + 300000 + 0x4000, area.end()), secondary);
  auto record = m_phone->record();
  EXPECT_EQ(record["outcome"], "reset");
  EXPECT_EQ(record["watchdog"], 64);
  EXPECT_EQ(record["commands"].size(), 9u);
}

TEST_F(AgentCommands, SecondaryEntryMustFollowThePrimaryAndTheGap) {
  Bytes primary = primaryRomImage(10000, 0);
  m_host->commandE0();
  for (uint32_t t : kSharedDataTypes) m_host->sharedData(t);
  m_host->writeBootloader(bootloaderImage(9000, kBootloaderSeed), patternBytes(100, 3));
  m_host->send({0xDD, 0xA5, 0xA5, 0xA5, 0x02, 0x02});
  m_host->sendU32(0);
  m_host->sendU32(331);
  EXPECT_EQ(m_host->receiveU8(), 0x5A);
  m_host->send({0x01});
  m_host->sendU32(0), m_host->sendU32(9999), m_host->sendU32(0), m_host->sendU32(1);
  EXPECT_EQ(m_host->receiveU8(), 0x5A);
  m_host->send({0x01});
  m_host->sendU32(10000), m_host->sendU32(10099), m_host->sendU32(0), m_host->sendU32(1);
  EXPECT_EQ(m_host->finish(), Outcome::Failed);
  EXPECT_NE(m_phone->failure().find("start 26384"), std::string::npos) << m_phone->failure();
}

TEST_F(AgentCommands, WatchdogWithAnotherValueIsAViolation) {
  m_host->upToNfbAfterConnect(primaryRomImage(5000, 0), patternBytes(100, 1));
  m_host->sendU8(0xDB);
  m_host->sendU16(65);
  EXPECT_EQ(m_host->finish(), Outcome::Failed);
}

}  // namespace
}  // namespace hxphone::test
