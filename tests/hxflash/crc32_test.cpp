// The package's CRC-32 in the run's log header: the standard check value, and
// a file read in pieces gives what its bytes give at once.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "host/crc32.h"

namespace {

class FileCrc32 : public testing::Test {
 protected:
  void SetUp() override {
    char templ[] = "/tmp/hxflash-crc-XXXXXX";
    ASSERT_NE(mkdtemp(templ), nullptr);
    m_dir = templ;
  }
  void TearDown() override { std::filesystem::remove_all(m_dir); }

  std::string write(const std::vector<uint8_t>& bytes) {
    const std::string path = m_dir + "/file" + std::to_string(++m_files);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
    return path;
  }

  std::string m_dir;
  int m_files = 0;
};

std::vector<uint8_t> bytesOf(const std::string& text) { return {text.begin(), text.end()}; }

TEST_F(FileCrc32, IsTheStandardCrcOfTheWholeFileWhateverItsSize) {
  // Sizes around the pieces a file is read in (1 MiB), so that a CRC not
  // carried from one piece to the next shows.
  std::vector<uint8_t> large((3u << 20) + 5);
  for (size_t i = 0; i < large.size(); ++i) large[i] = static_cast<uint8_t>(i * 131 + (i >> 12));
  const struct {
    std::vector<uint8_t> bytes;
    std::optional<uint32_t> known;
  } cases[] = {
      {{}, 0x00000000u},
      {bytesOf("123456789"), 0xCBF43926u},  // the check value of CRC-32 (IEEE 802.3)
      {std::vector<uint8_t>(1u << 20, 0xFF), std::nullopt},
      {large, std::nullopt},
  };
  for (const auto& c : cases) {
    const uint32_t whole = hxflash::crc32(c.bytes);
    if (c.known) {
      EXPECT_EQ(whole, *c.known);
    }
    const auto file = hxflash::fileCrc32(write(c.bytes));
    ASSERT_TRUE(file.has_value());
    EXPECT_EQ(file->size, c.bytes.size());
    EXPECT_EQ(file->crc32, whole) << c.bytes.size() << " bytes";
  }
}

TEST_F(FileCrc32, AFileThatCannotBeReadHasNone) {
  EXPECT_FALSE(hxflash::fileCrc32(m_dir + "/missing").has_value());
}

}  // namespace
