// Read-back, format, write-block and write-pages, driven by the test host
// after a complete connection and NFB write.
#include <gtest/gtest.h>

#include <ostream>

#include "host_driver.h"
#include "hxphone/virtual_phone.h"
#include "hxphone/wire.h"
#include "test_images.h"

namespace hxphone::test {
namespace {

// A raw block whose pages hold a pattern and whose spare bytes are programmed
// for the first `programmed` pages (0xFF after them).
Bytes rawBlock(const NandGeometry& g, uint32_t seed, uint32_t programmed) {
  Bytes raw = patternBytes(g.rawBlockSize(), seed);
  for (uint32_t p = programmed; p < g.pagesPerBlock; ++p)
    std::fill_n(raw.begin() + static_cast<std::ptrdiff_t>(size_t{p} * g.rawPageSize() + g.pageSize), g.spareSize, 0xFF);
  return raw;
}

uint16_t pageDataXor(const NandGeometry& g, const Bytes& raw) {
  Bytes data;
  for (uint32_t p = 0; p < g.pagesPerBlock; ++p) {
    auto page = raw.begin() + static_cast<std::ptrdiff_t>(size_t{p} * g.rawPageSize());
    data.insert(data.end(), page, page + g.pageSize);
  }
  return wordXor16(data);
}

class NandCommands : public ::testing::Test {
 protected:
  void start(PhoneOptions options) {
    m_options = options;
    m_phone = std::make_unique<VirtualPhone>(options, freshNand(options));
    m_host = std::make_unique<HostDriver>(*m_phone);
    m_primary = primaryRomImage(70000, 0x2345);
    m_host->upToNfb(m_primary, patternBytes(9000, 4));
  }
  const NandGeometry& g() const { return m_options.geometry; }
  PhoneOptions m_options;
  Bytes m_primary;
  std::unique_ptr<VirtualPhone> m_phone;
  std::unique_ptr<HostDriver> m_host;
};

struct ReadBackCase {
  const char* name;
  PhoneOptions (*options)();
  uint32_t n;
};

// Test names and messages show the case by its name.
void PrintTo(const ReadBackCase& c, std::ostream* out) { *out << c.name; }

class ReadBackGeometry : public NandCommands, public ::testing::WithParamInterface<ReadBackCase> {};

TEST_P(ReadBackGeometry, NegotiatesPagesPerChunkAndFindsTheRomInformation) {
  start(GetParam().options());
  // Page data of block 2: the primary ROM image's first block.
  auto data = m_host->readBack(1, 2 * g().blockDataSize(), g().blockDataSize());
  EXPECT_EQ(data.a1, g().pageSize);
  EXPECT_EQ(data.a2, g().spareSize);
  EXPECT_EQ(data.a3, g().pageSize);
  EXPECT_EQ(4224 / (data.a1 + data.a2), GetParam().n);
  EXPECT_EQ(data.total, g().blockDataSize());
  EXPECT_EQ(Bytes(data.data.begin(), data.data.begin() + 0x3000), Bytes(m_primary.begin(), m_primary.begin() + 0x3000));
  // With spare bytes: whole raw pages.
  auto raw = m_host->readBack(0, 2 * g().blockDataSize(), g().blockDataSize());
  EXPECT_EQ(raw.a3, g().rawPageSize());
  EXPECT_EQ(raw.total, g().rawBlockSize());
  EXPECT_EQ(raw.data[g().pageSize], 0xFF);  // ROM pages keep erased spare bytes
  EXPECT_EQ(m_host->enableWatchdog(64), 0x5A);
}

INSTANTIATE_TEST_SUITE_P(Geometries, ReadBackGeometry,
                         ::testing::Values(ReadBackCase{"LargePage", largePagePhone, 2},
                                           ReadBackCase{"SmallPage", smallPagePhone, 8}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_F(NandCommands, ReadBackResendsAChunkWithABadSum) {
  PhoneOptions options = largePagePhone();
  options.faults.badReadBackSums = 3;
  start(options);
  auto r = m_host->readBack(1, 0, 0x4000);
  EXPECT_EQ(r.badSums, 3);
  EXPECT_EQ(r.data.size(), 0x4000u);
  m_host->enableWatchdog(64);
  m_host->finish();
  EXPECT_EQ(m_phone->record()["readBacks"][0]["resends"], 3);
}

TEST_F(NandCommands, NoRomInfoFaultHidesBlocks2To9) {
  PhoneOptions options = largePagePhone();
  options.faults.noRomInfo = true;
  start(options);
  auto r = m_host->readBack(1, 2 * g().blockDataSize(), g().blockDataSize());
  EXPECT_EQ(r.data, Bytes(g().blockDataSize(), 0xFF));
}

TEST_F(NandCommands, FormatReportsProgressAndBadBlocksAndErases) {
  PhoneOptions options = smallPagePhone();
  options.factoryBadBlocks = {42};
  start(options);
  Bytes raw = rawBlock(g(), 1, 32);
  EXPECT_EQ(m_host->writeBlock(41, raw, g()), "ok:" + std::to_string(pageDataXor(g(), raw)));
  auto statuses = m_host->format(1, 0, 1, 40 * g().blockDataSize(), 8 * g().blockDataSize());
  EXPECT_EQ(statuses, (std::vector<uint32_t>{3021, 3041, 3021, 3021, 0}));
  m_host->finish();  // the NAND is read once the phone's thread has ended
  EXPECT_EQ(m_phone->nand().rawBlock(41), Bytes(g().rawBlockSize(), 0xFF));
  EXPECT_TRUE(m_phone->nand().isBad(42));
}

TEST_F(NandCommands, FailingFormatEndsWithAnErrorStatus) {
  PhoneOptions options = largePagePhone();
  options.faults.formatFailsAt = 1;
  start(options);
  auto statuses = m_host->format(1, 1, 0, 40 * g().blockDataSize(), 2 * g().blockDataSize());
  EXPECT_EQ(statuses, (std::vector<uint32_t>{3020}));
}

TEST_F(NandCommands, UnknownFormatFlagsAreAViolation) {
  start(largePagePhone());
  m_host->send({0xD4, 0, 1, 1});
  m_host->sendU32(0);
  m_host->sendU32(g().blockDataSize());
  EXPECT_EQ(m_host->finish(), Outcome::Failed);
}

TEST_F(NandCommands, WriteBlockErasesThenProgramsAndAnswersTheDataChecksum) {
  start(largePagePhone());
  Bytes first = rawBlock(g(), 5, 64);
  Bytes second = rawBlock(g(), 6, 10);
  EXPECT_EQ(m_host->writeBlock(30, first, g()), "ok:" + std::to_string(pageDataXor(g(), first)));
  EXPECT_EQ(m_host->writeBlock(30, second, g()), "ok:" + std::to_string(pageDataXor(g(), second)));
  EXPECT_EQ(m_phone->nand().rawBlock(30), second);  // erased first: not first AND second
  m_host->enableWatchdog(64);
  m_host->finish();
  auto writes = m_phone->record()["blockWrites"];
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_EQ(writes[1]["block"], 30);
  EXPECT_EQ(writes[1]["result"], "ok");
}

TEST_F(NandCommands, BadTargetBlockIsRefusedWith3041) {
  PhoneOptions options = largePagePhone();
  options.factoryBadBlocks = {33};
  start(options);
  EXPECT_EQ(m_host->writeBlock(33, rawBlock(g(), 1, 64), g()), "bad:3041");
  EXPECT_EQ(m_host->writePages(33, {0}, rawBlock(g(), 1, 1), g()), "bad:3041");
  EXPECT_EQ(m_host->writeBlock(34, rawBlock(g(), 1, 64), g()).substr(0, 3), "ok:");
}

TEST_F(NandCommands, BlockFailingWhileProgrammedAnswersA5And3041ThenStaysBad) {
  PhoneOptions options = largePagePhone();
  options.failingBlocks = {35};
  start(options);
  EXPECT_EQ(m_host->writeBlock(35, rawBlock(g(), 1, 64), g()), "failed:3041");
  EXPECT_EQ(m_host->writeBlock(35, rawBlock(g(), 1, 64), g()), "bad:3041");
  m_host->enableWatchdog(64);
  m_host->finish();
  EXPECT_EQ(m_phone->record()["blockWrites"][0]["result"], "failed-program");
  EXPECT_TRUE(NandModel::rawBlockMarkedBad(m_phone->nand().rawBlock(35), g()));
}

TEST_F(NandCommands, ResendRequestsRepeatAPacket) {
  PhoneOptions options = smallPagePhone();
  options.faults.resendPackets = 2;
  start(options);
  int resends = 0;
  Bytes raw = rawBlock(g(), 8, 32);
  EXPECT_EQ(m_host->writeBlock(50, raw, g(), &resends), "ok:" + std::to_string(pageDataXor(g(), raw)));
  EXPECT_EQ(resends, 2);
  m_host->finish();
  EXPECT_EQ(m_phone->nand().rawBlock(50), raw);
}

TEST_F(NandCommands, BadBlockChecksumFaultHitsTheChosenWrite) {
  PhoneOptions options = smallPagePhone();
  options.faults.badBlockChecksumAt = 2;
  start(options);
  Bytes raw = rawBlock(g(), 8, 32);
  std::string right = "ok:" + std::to_string(pageDataXor(g(), raw));
  EXPECT_EQ(m_host->writeBlock(50, raw, g()), right);
  EXPECT_NE(m_host->writeBlock(51, raw, g()), right);
  EXPECT_EQ(m_host->writeBlock(52, raw, g()), right);
}

TEST_F(NandCommands, SpareExhaustionRefusesEveryWrite) {
  PhoneOptions options = largePagePhone();
  options.faults.spareExhaustion = true;
  start(options);
  for (uint32_t block : {40u, 41u, 60u}) EXPECT_EQ(m_host->writeBlock(block, rawBlock(g(), 1, 64), g()), "bad:3041");
}

TEST_F(NandCommands, WritePagesProgramsOnlyTheListedPages) {
  start(smallPagePhone());
  Bytes raw = rawBlock(g(), 9, 32);
  EXPECT_EQ(m_host->writeBlock(60, raw, g()).substr(0, 3), "ok:");
  std::string result = m_host->writePages(60, {1, 4, 7}, raw, g());
  EXPECT_EQ(result.substr(0, 2), "ok");
  EXPECT_EQ(m_host->writePages(61, {}, raw, g()), "ok");
  m_host->finish();
  Bytes stored = m_phone->nand().rawBlock(60);
  for (uint32_t p = 0; p < g().pagesPerBlock; ++p) {
    auto at = static_cast<std::ptrdiff_t>(size_t{p} * g().rawPageSize());
    Bytes page(stored.begin() + at, stored.begin() + at + g().rawPageSize());
    bool listed = p == 1 || p == 4 || p == 7;
    EXPECT_EQ(page, listed ? Bytes(raw.begin() + at, raw.begin() + at + g().rawPageSize()) : Bytes(g().rawPageSize(), 0xFF))
        << "page " << p;
  }
}

TEST_F(NandCommands, WritePagesIndicesMustAscend) {
  start(smallPagePhone());
  Bytes raw = rawBlock(g(), 9, 32);
  EXPECT_THROW(m_host->writePages(60, {4, 2}, raw, g()), std::runtime_error);
  EXPECT_EQ(m_host->finish(), Outcome::Failed);
}

}  // namespace
}  // namespace hxphone::test
