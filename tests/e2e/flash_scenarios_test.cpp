// Flashing virtual phones through the real module's exports.
#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <mutex>
#include <string>
#include <vector>
#include <thread>

#include "expected_events.h"
#include "hxphone/nand_preload.h"
#include "hxphone/phone_station.h"
#include "hxphone/verify.h"
#include "pkgbuild/package_mutations.h"
#include "phone_bench.h"

namespace {

using hxtest::PackageFile;
using hxtest::PluggedPhone;

// The phone's NAND holds exactly the package, as the phone's own verify sees it.
void expectPhoneHolds(PluggedPhone& phone, const PackageFile& package) {
  const hxphone::VerifyReport report = hxphone::verifyNand(phone.phone().nand(), package.built());
  EXPECT_TRUE(report.ok()) << report.text();
}

// Flashes one phone and checks everything a good flash shows: success, the
// exact event stream, the phone's reset, and its NAND.
void expectFlashedClean(PluggedPhone& phone, const PackageFile& package) {
  const auto results = hxtest::flashPhones(package.path(), {&phone});
  ASSERT_EQ(results.size(), 1u);
  EXPECT_TRUE(results[0].connected);
  ASSERT_TRUE(results[0].succeeded) << phone.phone().failure();
  EXPECT_EQ(phone.phone().outcome(), hxphone::Outcome::Reset) << phone.phone().failure();
  const auto expected = hxtest::expectedSuccessEvents(package.built());
  EXPECT_EQ(results[0].events, expected) << "got:\n"
                                         << hxtest::describe(results[0].events) << "expected:\n"
                                         << hxtest::describe(expected);
  expectPhoneHolds(phone, package);
}

class FlashScenario : public ::testing::TestWithParam<uint32_t> {
 protected:
  hxtest::PortsDir ports;
};

TEST_P(FlashScenario, CleanPhoneIsFlashedWithTheExactEventStream) {
  PackageFile package(pkgbuild::tinyRecipe(GetParam()));
  const hxphone::PhoneOptions options = hxtest::phoneFor(package.built());
  PluggedPhone phone(ports, 41, options, hxphone::freshNand(options));
  expectFlashedClean(phone, package);
}

INSTANTIATE_TEST_SUITE_P(PageSizes, FlashScenario, ::testing::Values(2048u, 512u),
                         [](const auto& param) { return "Page" + std::to_string(param.param); });

}  // namespace

namespace {

using hxflash::HostEvent;

bool sawCountdown(const std::vector<HostEvent>& events) {
  for (const HostEvent& e : events)
    if (e.text.rfind("Waiting for Reset", 0) == 0) return true;
  return false;
}

// A failed download's events are a prefix of the successful stream: nothing
// is reported after the failing step, and no countdown.
void expectFailedPrefix(const std::vector<HostEvent>& events, const pkgbuild::BuiltPackage& package) {
  const auto full = hxtest::expectedSuccessEvents(package);
  ASSERT_LE(events.size(), full.size());
  EXPECT_EQ(events, std::vector<HostEvent>(full.begin(), full.begin() + static_cast<long>(events.size())))
      << hxtest::describe(events);
  EXPECT_FALSE(sawCountdown(events));
}

class FlashFailure : public ::testing::Test {
 protected:
  // Flashes one phone with `options` from a blank NAND; the download must fail
  // after connecting, with the events up to the failing step and no more.
  hxflash::PhoneResult flashFailing(PluggedPhone& phone) {
    const auto results = hxtest::flashPhones(package.path(), {&phone});
    EXPECT_EQ(results.size(), 1u);
    if (results.empty()) return {};
    EXPECT_TRUE(results[0].connected);
    EXPECT_FALSE(results[0].succeeded);
    expectFailedPrefix(results[0].events, package.built());
    return results[0];
  }

  hxtest::PortsDir ports;
  PackageFile package{pkgbuild::tinyRecipe(2048)};
  hxphone::PhoneOptions options = hxtest::phoneFor(package.built());
};

TEST_F(FlashFailure, PackageThatCannotBeDownloadedIsRefusedBeforeAnyAgentByte) {
  pkgbuild::PackageRecipe recipe = pkgbuild::tinyRecipe(2048);
  recipe.romInfo.present = false;  // no ROM information: the FS area is unknown
  PackageFile refused(recipe);
  PluggedPhone phone(ports, 41, options, hxphone::freshNand(options));
  const auto results = hxtest::flashPhones(refused.path(), {&phone});
  ASSERT_EQ(results.size(), 1u);
  EXPECT_FALSE(results[0].succeeded);
  EXPECT_EQ(results[0].events, (std::vector<HostEvent>{{16, 0, ""}}));
  const auto record = phone.phone().record();
  EXPECT_TRUE(record["commands"].empty()) << record.dump();
  EXPECT_TRUE(record["blockWrites"].empty());
  EXPECT_TRUE(record["images"].empty());
  EXPECT_EQ(phone.phone().outcome(), hxphone::Outcome::HostGone);
}

TEST_F(FlashFailure, PhoneWithoutRomInformationFailsBeforeTheFsImages) {
  options.faults.noRomInfo = true;
  PluggedPhone phone(ports, 41, options, hxphone::freshNand(options));
  const auto result = flashFailing(phone);
  ASSERT_FALSE(result.events.empty());
  EXPECT_EQ(result.events.back(), (HostEvent{2, 0, "Start Write FS Image"}));
  EXPECT_TRUE(phone.phone().record()["blockWrites"].empty());
}

TEST_F(FlashFailure, SpareExhaustionFailsTheDownload) {
  options.faults.spareExhaustion = true;
  PluggedPhone phone(ports, 41, options, hxphone::freshNand(options));
  flashFailing(phone);
  // Every spare of the first block's region was tried before giving up.
  const auto& fs = package.built().layout.fsImages[0];
  size_t sparesOfRegion = 0;
  for (const auto& b : fs.reservedBlocks) sparesOfRegion += b.region == fs.mappedBlocks[0].region ? 1 : 0;
  EXPECT_EQ(phone.phone().record()["blockWrites"].size(), 1 + sparesOfRegion);
}

TEST_F(FlashFailure, APageStoredWronglyIsConfirmedThenFailsTheDownload) {
  options.faults.pageStatusAt = 1;
  PluggedPhone phone(ports, 41, options, hxphone::freshNand(options));
  flashFailing(phone);
  // The phone recorded the page only once the host had confirmed its sum.
  const auto record = phone.phone().record();
  size_t failedPages = 0;
  for (const auto& write : record["blockWrites"]) failedPages += write["result"] == "failed-status" ? 1 : 0;
  EXPECT_EQ(failedPages, 1u) << record["blockWrites"].dump();
  EXPECT_EQ(phone.phone().outcome(), hxphone::Outcome::HostGone) << phone.phone().failure();
}

TEST_F(FlashFailure, PhoneUnpluggedMidTransferFailsPromptly) {
  options.faults.unplugAtStep = "nfb";
  PluggedPhone phone(ports, 41, options, hxphone::freshNand(options));
  const auto result = flashFailing(phone);
  EXPECT_EQ(phone.phone().outcome(), hxphone::Outcome::Unplugged);
  EXPECT_LT(result.seconds, 60.0) << "a phone that has gone must not be waited for";
}

TEST(FlashTogether, TwoPhonesOnTwoPortsAtOnce) {
  hxtest::PortsDir ports;
  PackageFile package(pkgbuild::tinyRecipe(2048));
  const hxphone::PhoneOptions options = hxtest::phoneFor(package.built());
  PluggedPhone a(ports, 41, options, hxphone::freshNand(options));
  PluggedPhone b(ports, 42, options, hxphone::freshNand(options));
  const auto results = hxtest::flashPhones(package.path(), {&a, &b});
  ASSERT_EQ(results.size(), 2u);
  const auto expected = hxtest::expectedSuccessEvents(package.built());
  for (const auto& r : results) {
    EXPECT_TRUE(r.succeeded) << "COM" << r.comPort;
    EXPECT_EQ(r.events, expected) << "COM" << r.comPort;
  }
  EXPECT_EQ(a.phone().outcome(), hxphone::Outcome::Reset) << a.phone().failure();
  EXPECT_EQ(b.phone().outcome(), hxphone::Outcome::Reset) << b.phone().failure();
  expectPhoneHolds(a, package);
  expectPhoneHolds(b, package);
}

// A line of the module as its log sink received it.
struct SinkLine {
  unsigned comPort;
  int code;
  std::string text;
};

// The blocks a port's "Write Block num = N" lines name, in order.
std::vector<uint32_t> loggedBlockWrites(const std::vector<SinkLine>& lines, unsigned comPort) {
  std::vector<uint32_t> blocks;
  for (const SinkLine& line : lines)
    if (line.comPort == comPort && line.text.rfind("Write Block num = ", 0) == 0)
      blocks.push_back(static_cast<uint32_t>(std::stoul(line.text.substr(18))));
  return blocks;
}

// The blocks the phone itself was asked to write, in order.
std::vector<uint32_t> recordedBlockWrites(PluggedPhone& phone) {
  std::vector<uint32_t> blocks;
  const auto record = phone.phone().record();
  for (const auto& write : record["blockWrites"]) blocks.push_back(write["block"].get<uint32_t>());
  return blocks;
}

TEST(FlashTogether, EveryModuleLineCarriesThePortOfThePhoneItIsAbout) {
  hxtest::PortsDir ports;
  PackageFile package(pkgbuild::tinyRecipe(2048));
  const hxphone::PhoneOptions options = hxtest::phoneFor(package.built());
  hxphone::PhoneOptions unplugged = options, worn = options;
  unplugged.faults.unplugAtStep = "write-block";
  worn.faults.spareExhaustion = true;
  PluggedPhone clean(ports, 41, options, hxphone::freshNand(options));
  PluggedPhone gone(ports, 42, unplugged, hxphone::freshNand(unplugged));
  PluggedPhone spent(ports, 43, worn, hxphone::freshNand(worn));
  std::mutex mutex;
  std::vector<SinkLine> lines;
  auto sink = [&](unsigned com, int code, const std::string& text) {
    const std::lock_guard<std::mutex> lock(mutex);
    lines.push_back({com, code, text});
  };
  const auto results = hxtest::flashPhones(package.path(), {&clean, &gone, &spent}, 0.05, sink);
  ASSERT_EQ(results.size(), 3u);
  EXPECT_TRUE(results[0].succeeded);
  EXPECT_FALSE(results[1].succeeded);
  EXPECT_FALSE(results[2].succeeded);

  // Each port's block writes are exactly those its own phone saw; the phone
  // unplugged at its first write-block saw that one's command never arrive.
  EXPECT_EQ(loggedBlockWrites(lines, 41), recordedBlockWrites(clean));
  EXPECT_EQ(loggedBlockWrites(lines, 43), recordedBlockWrites(spent));
  const std::vector<uint32_t> goneBlocks = loggedBlockWrites(lines, 42), goneRecord = recordedBlockWrites(gone);
  ASSERT_EQ(goneBlocks.size(), goneRecord.size() + 1);
  EXPECT_TRUE(std::equal(goneRecord.begin(), goneRecord.end(), goneBlocks.begin()));
  EXPECT_FALSE(loggedBlockWrites(lines, 41).empty());

  for (const SinkLine& line : lines) {
    EXPECT_TRUE(line.comPort == 0 || (line.comPort >= 41 && line.comPort <= 43)) << line.comPort << ": " << line.text;
    EXPECT_EQ(line.text.find('\n'), std::string::npos) << line.text;
  }
  // A port's lines end with its result: none for the clean phone, the code and
  // the cause for the failed ones.
  auto lastLineOf = [&](unsigned com) {
    SinkLine last{com, 0, ""};
    for (const SinkLine& line : lines)
      if (line.comPort == com) last = line;
    return last;
  };
  for (const SinkLine& line : lines) EXPECT_TRUE(line.comPort != 41 || line.code == 0) << line.text;
  const SinkLine goneEnd = lastLineOf(42), spentEnd = lastLineOf(43);
  EXPECT_EQ(goneEnd.code, 4008) << goneEnd.text;
  EXPECT_NE(goneEnd.text.find("the port went away"), std::string::npos) << goneEnd.text;
  EXPECT_EQ(spentEnd.code, 3051) << spentEnd.text;
  EXPECT_NE(spentEnd.text.find("no spare of region"), std::string::npos) << spentEnd.text;
}

TEST(FlashBadBlocks, FactoryBadAndFailingBlocksGoToSparesOfTheirRegion) {
  hxtest::PortsDir ports;
  // Every FS image needs a fresh region-0 spare for its new info block while
  // the phone's current one is kept: enough spares for that and the bad blocks.
  pkgbuild::PackageRecipe recipe = pkgbuild::tinyRecipe(2048);
  recipe.fs[0].reservedPerRegion = 3;
  PackageFile package(recipe);
  const auto& fs = package.built().layout.fsImages[0];
  ASSERT_GE(fs.mappedBlocks.size(), 2u);
  hxphone::PhoneOptions options = hxtest::phoneFor(package.built());
  options.factoryBadBlocks = {fs.mappedBlocks[0].block};
  options.failingBlocks = {fs.mappedBlocks[1].block};
  PluggedPhone phone(ports, 41, options, hxphone::freshNand(options));
  ASSERT_NO_FATAL_FAILURE(expectFlashedClean(phone, package));
  // The first two data blocks went to spares of their own regions.
  const auto writes = phone.phone().record()["blockWrites"];
  std::vector<uint32_t> spares;
  for (const auto& w : writes)
    if (w["result"] == "ok") spares.push_back(w["block"].get<uint32_t>());
  auto isSpareOfRegion = [&](uint32_t block, uint32_t region) {
    for (const auto& r : fs.reservedBlocks)
      if (r.block == block) return r.region == region;
    return false;
  };
  ASSERT_GE(spares.size(), 2u);
  EXPECT_TRUE(isSpareOfRegion(spares[0], fs.mappedBlocks[0].region)) << writes.dump();
  EXPECT_TRUE(isSpareOfRegion(spares[1], fs.mappedBlocks[1].region)) << writes.dump();
}

// A phone that already holds an older firmware with an FS info block.
class FlashOverOldFirmware : public ::testing::Test {
 protected:
  FlashOverOldFirmware() {
    recipe.fs[0].reservedPerRegion = 3;
    package = std::make_unique<PackageFile>(recipe);
    options = hxtest::phoneFor(package->built());
  }
  hxtest::PortsDir ports;
  pkgbuild::PackageRecipe recipe = pkgbuild::tinyRecipe(2048);
  std::unique_ptr<PackageFile> package;
  hxphone::PhoneOptions options;
};

TEST_F(FlashOverOldFirmware, SameVersionKeepsItsRemapsAndErasesTheOldInfoBlockLast) {
  const auto& fs = package->built().layout.fsImages[0];
  uint32_t spare = 0;
  for (const auto& r : fs.reservedBlocks)
    if (r.region == fs.mappedBlocks[1].region && spare == 0) spare = r.block;  // the region's first spare
  hxphone::PreloadedState state;
  hxphone::NandModel nand = hxphone::preloadOlderFirmware(options, recipe, {true, {{1, spare}}}, &state);
  ASSERT_FALSE(state.oldInfoBlocks.empty());
  PluggedPhone phone(ports, 41, options, std::move(nand));
  ASSERT_NO_FATAL_FAILURE(expectFlashedClean(phone, *package));

  const auto record = phone.phone().record();
  // Data block 1 was written where the phone's remap entry points, never to its bad block.
  bool wroteSpare = false;
  for (const auto& w : record["blockWrites"]) {
    EXPECT_NE(w["block"].get<uint32_t>(), fs.mappedBlocks[1].block) << record["blockWrites"].dump();
    wroteSpare = wroteSpare || w["block"].get<uint32_t>() == spare;
  }
  EXPECT_TRUE(wroteSpare);
  // No format of the whole FS area; the old info block is formatted after the
  // first image's new info block was written.
  const uint32_t blockData = package->built().layout.geometry.blockDataSize;
  ASSERT_FALSE(record["formats"].empty());
  for (const auto& f : record["formats"]) EXPECT_EQ(f["blockCount"].get<uint32_t>(), 1u) << record["formats"].dump();
  EXPECT_EQ(record["formats"][0]["start"].get<uint64_t>(), uint64_t{state.oldInfoBlocks[0]} * blockData);
}

TEST_F(FlashOverOldFirmware, OtherVersionFormatsTheFsArea) {
  hxphone::PreloadedState state;
  hxphone::NandModel nand = hxphone::preloadOlderFirmware(options, recipe, {false, {}}, &state);
  PluggedPhone phone(ports, 41, options, std::move(nand));
  ASSERT_NO_FATAL_FAILURE(expectFlashedClean(phone, *package));
  const auto record = phone.phone().record();
  const auto& layout = package->built().layout;
  ASSERT_FALSE(record["formats"].empty());
  EXPECT_EQ(record["formats"][0]["flags"], nlohmann::json({1, 0, 1}));
  EXPECT_EQ(record["formats"][0]["start"].get<uint64_t>(), layout.fsFormatAreaStart);
  EXPECT_EQ(record["formats"][0]["length"].get<uint64_t>(), layout.fsFormatAreaLength);
}

// A read-back that fails while the phone's info block is searched for fails
// the image before anything is formatted: the phone keeps its info block and
// with it its bad-block history.
TEST_F(FlashOverOldFirmware, AReadBackThatFailsInTheInfoAreaKeepsThePhonesInfoBlock) {
  hxphone::PreloadedState state;
  hxphone::NandModel nand = hxphone::preloadOlderFirmware(options, recipe, {true, {}}, &state);
  ASSERT_FALSE(state.oldInfoBlocks.empty());
  const std::vector<uint8_t> infoBefore = nand.rawBlock(state.oldInfoBlocks[0]);
  options.faults.silentAtStep = "read-back";
  options.faults.silentAtOccurrence = 2;  // after the ROM information, the info area's first block
  PluggedPhone phone(ports, 41, options, std::move(nand));
  std::mutex mutex;
  std::vector<std::pair<int, std::string>> lines;
  auto sink = [&](unsigned com, int code, const std::string& text) {
    const std::lock_guard<std::mutex> lock(mutex);
    if (com == 41) lines.emplace_back(code, text);
  };
  const auto results = hxtest::flashPhones(package->path(), {&phone}, 0.05, sink);
  ASSERT_EQ(results.size(), 1u);
  EXPECT_FALSE(results[0].succeeded);
  const auto record = phone.phone().record();
  EXPECT_TRUE(record["formats"].empty()) << record["formats"].dump();
  EXPECT_TRUE(record["blockWrites"].empty()) << record["blockWrites"].dump();
  EXPECT_EQ(phone.phone().nand().rawBlock(state.oldInfoBlocks[0]), infoBefore);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back().first, 4008) << lines.back().second;
  EXPECT_NE(lines.back().second.find("the read-back of info area block"), std::string::npos) << lines.back().second;
}

// A worn phone: its info block's counter says the spares the image needs are
// used. The image is refused before anything is written: after the phone's
// read-backs, no format and no block write.
TEST_F(FlashOverOldFirmware, WornPhoneIsRefusedBeforeAnythingIsWritten) {
  const auto& layout = package->built().layout;
  const auto& fs = layout.fsImages[0];
  const uint32_t base = static_cast<uint32_t>(layout.fsAreaStart / layout.geometry.blockDataSize);
  auto lastSpare = [&](uint32_t region) {
    uint32_t last = 0;
    for (const auto& r : fs.reservedBlocks)
      if (r.region == region) last = std::max(last, r.block);
    return last;
  };
  struct Case {
    const char* what;
    uint32_t region;
    uint32_t counter;
  };
  // The phone's info block is region 0's last spare.
  const std::vector<Case> cases = {
      {"every region-1 spare used", 1, lastSpare(1) - base + 1},
      {"every region-0 spare used", 0, lastSpare(0) - base + 1},
      {"only the phone's own info block left in region 0", 0, lastSpare(0) - base},
  };
  uint32_t comPort = 41;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    hxphone::PreloadedState state;
    hxphone::NandModel nand = hxphone::preloadOlderFirmware(
        options, recipe, {true, {}, {{c.region, static_cast<uint16_t>(c.counter)}}}, &state);
    ASSERT_EQ(state.oldInfoBlocks, std::vector<uint32_t>{lastSpare(0)});
    PluggedPhone phone(ports, comPort++, options, std::move(nand));
    const auto results = hxtest::flashPhones(package->path(), {&phone});
    ASSERT_EQ(results.size(), 1u);
    EXPECT_TRUE(results[0].connected);
    EXPECT_FALSE(results[0].succeeded);
    expectFailedPrefix(results[0].events, package->built());
    const auto record = phone.phone().record();
    EXPECT_FALSE(record["readBacks"].empty());
    EXPECT_TRUE(record["formats"].empty()) << record["formats"].dump();
    EXPECT_TRUE(record["blockWrites"].empty()) << record["blockWrites"].dump();
  }
}

// An FS image of another version is skipped whatever its header says, here
// that it has no data blocks; the 5.2.0 images after it are written.
TEST(FlashSkippedImage, ImageOfAnotherVersionDeclaringNoDataBlocksIsSkipped) {
  hxtest::PortsDir ports;
  pkgbuild::PackageRecipe recipe = pkgbuild::tinyRecipe(2048);
  pkgbuild::FsEntryRecipe other = recipe.fs[0];
  other.version = {5, 2, 1};
  recipe.fs.insert(recipe.fs.begin(), other);
  recipe.entries.push_back(pkgbuild::EntryRecipe{10, 0, 1});
  PackageFile package(recipe);
  ASSERT_FALSE(package.built().layout.fsImages[0].written);
  package.mutate([](pkgbuild::BuiltPackage& pkg) {
    pkgbuild::patchLe32(pkg, pkg.layout.fsEntries[0].headerFileOffset + 12, 0);  // mappedCount
  });
  const hxphone::PhoneOptions options = hxtest::phoneFor(package.built());
  PluggedPhone phone(ports, 41, options, hxphone::freshNand(options));
  expectFlashedClean(phone, package);
}

}  // namespace

namespace {

// A station's day: on one port, one phone after another. After a flash the
// session's next wait must not reconnect to the phone it just flashed: it
// waits for that one to go and for the next to arrive.
TEST(FlashOneAfterAnother, EachNewPhoneOnAPortIsFlashedAfterTheLastHasGone) {
  hxtest::PortsDir ports;
  PackageFile package(pkgbuild::tinyRecipe(2048));
  hxphone::StationOptions station;
  station.phone = hxtest::phoneFor(package.built());
  station.port = 43;
  station.portsDir = ports.path();
  station.afterReset = hxphone::AfterReset::Fresh;
  station.phones = 2;
  station.plugDelay = std::chrono::milliseconds(300);
  // The operator plugs the next phone in once the reset countdown is over.
  station.replugDelay = std::chrono::milliseconds(2500);
  station.dumpPath = package.path() + ".phone%n.nand";
  hxphone::PhoneStation phones(station);
  std::thread plugging([&phones] { phones.run(); });

  hxflash::FlashOptions options;
  options.modulePath = HXFLASH_DEFAULT_MODULE;
  options.packagePath = package.path();
  options.comPorts = {43};
  options.phonesPerPort = 2;
  options.timeScale = 0.01;
  hxflash::FlashRun run(options);
  auto flashing = std::async(std::launch::async, [&run] { return run.run(); });
  // A failed first phone is not replugged: the run would wait for ever.
  if (flashing.wait_for(std::chrono::seconds(120)) != std::future_status::ready) run.abort();
  const auto results = flashing.get();
  phones.stop();
  plugging.join();

  ASSERT_EQ(results.size(), 2u);
  for (int phone = 1; phone <= 2; ++phone) {
    const auto& r = results[static_cast<size_t>(phone - 1)];
    EXPECT_TRUE(r.succeeded) << "phone " << phone;
    EXPECT_EQ(r.events, hxtest::expectedSuccessEvents(package.built())) << "phone " << phone;
    const auto report = hxphone::verifyDump({package.path(), package.path() + ".phone" + std::to_string(phone) + ".nand", 0});
    EXPECT_TRUE(report.ok()) << "phone " << phone << ":\n" << report.text();
  }
}

}  // namespace
