#include "agent/agent_blocks.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "agent/agent_table_layout.h"
#include "log_capture.h"

namespace hx::test {
namespace {

namespace layout = hx::agent_table;

TEST(EmbeddedAgentBlocks, LengthsLoadAddressesAndTableShapes) {
  const agent::AgentBlocks b = agent::embeddedAgentBlocks();
  EXPECT_EQ(b.da1.length, 82808u);
  EXPECT_EQ(b.da1.address, 0x40001400u);
  EXPECT_EQ(b.da2.length, 7492u);
  EXPECT_EQ(b.da2.address, 0x50044000u);
  EXPECT_EQ(b.norTable.length, 209u * 36);
  EXPECT_EQ(b.nandTable.length, 106u * 52);
  EXPECT_EQ(layout::readLe16(b.norTable.data + 208 * 36), 0xFFFF);
  EXPECT_EQ(layout::readLe16(b.nandTable.data + 105 * 52), 0xFFFF);
  for (size_t r = 0; r < 208; ++r) EXPECT_NE(layout::readLe16(b.norTable.data + r * 36), 0xFFFF) << r;
  EXPECT_EQ(layout::readLe16(b.nandTable.data + layout::nand::kMakerCode), 0xEC);
}

TEST(EmbeddedAgentBlocks, NandTableHoldsTheSmallAndLargePageGeometries) {
  const agent::AgentBlocks b = agent::embeddedAgentBlocks();
  bool small = false, large = false;
  for (size_t r = 0; r + 1 < layout::nand::kRecordCount; ++r) {
    const uint8_t* rec = b.nandTable.data + r * layout::nand::kRecordSize;
    const uint16_t page = layout::readLe16(rec + layout::nand::kPageSize);
    const uint16_t spare = layout::readLe16(rec + layout::nand::kSpareSize);
    const uint16_t pages = layout::readLe16(rec + layout::nand::kPagesPerBlock);
    EXPECT_EQ(spare, page == 512 ? 16 : 64);
    EXPECT_GT(layout::readLe32(rec + layout::nand::kBlockCount), 0u);
    small |= page == 512 && pages == 32 && layout::readLe16(rec) == 0xEC;
    large |= page == 2048 && pages == 64 && layout::readLe16(rec) == 0xEC;
  }
  EXPECT_TRUE(small);
  EXPECT_TRUE(large);
}

class OverrideFolder : public testing::Test {
 protected:
  void SetUp() override {
    dir = std::filesystem::temp_directory_path() /
          ("hx-agent-blocks-" + std::to_string(::getpid()) + "-" +
           testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir);
  }
  void TearDown() override { std::filesystem::remove_all(dir); }
  void put(const char* name, const std::vector<uint8_t>& bytes) {
    std::ofstream(dir / name, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                      static_cast<std::streamsize>(bytes.size()));
  }
  std::filesystem::path dir;
};

TEST_F(OverrideFolder, WellFormedFilesReplaceTheirBlocks) {
  put("DA1.bin", std::vector<uint8_t>(10, 0x11));
  std::vector<uint8_t> table(2 * 52, 0);
  table[52] = 0xFF, table[53] = 0xFF;
  put("NAND_TABLE.bin", table);
  hxtest::LogCapture capture;
  const agent::LoadedAgentBlocks loaded = agent::loadAgentBlocks(dir.string());
  EXPECT_EQ(loaded.blocks.da1.length, 10u);
  EXPECT_EQ(loaded.blocks.da1.address, 0x40001400u);
  EXPECT_EQ(loaded.blocks.da1.data[0], 0x11);
  EXPECT_EQ(loaded.blocks.nandTable.length, 104u);
  EXPECT_EQ(loaded.blocks.da2.length, 7492u);  // no file: embedded
  EXPECT_EQ(loaded.blocks.norTable.length, 209u * 36);
}

TEST_F(OverrideFolder, MalformedFilesAreRefusedWithALogLine) {
  put("DA1.bin", std::vector<uint8_t>(11, 0x11));   // odd
  put("DA2.bin", {});                                // empty
  put("NOR_TABLE.bin", std::vector<uint8_t>(36 * 2 + 1, 0));  // ragged
  put("NAND_TABLE.bin", std::vector<uint8_t>(52 * 2, 0));     // no end record
  hxtest::LogCapture capture;
  const agent::LoadedAgentBlocks loaded = agent::loadAgentBlocks(dir.string());
  const std::string log = capture.text();
  const agent::AgentBlocks embedded = agent::embeddedAgentBlocks();
  EXPECT_EQ(loaded.blocks.da1.data, embedded.da1.data);
  EXPECT_EQ(loaded.blocks.da2.data, embedded.da2.data);
  EXPECT_EQ(loaded.blocks.norTable.data, embedded.norTable.data);
  EXPECT_EQ(loaded.blocks.nandTable.data, embedded.nandTable.data);
  for (const char* name : {"DA1.bin", "DA2.bin", "NOR_TABLE.bin", "NAND_TABLE.bin"})
    EXPECT_NE(log.find(std::string(name) + " refused"), std::string::npos) << log;
}

TEST(ModuleDirectory, NamesAnExistingFolder) {
  const std::string dir = agent::moduleDirectory();
  ASSERT_FALSE(dir.empty());
  EXPECT_TRUE(std::filesystem::is_directory(dir));
}

}  // namespace
}  // namespace hx::test
