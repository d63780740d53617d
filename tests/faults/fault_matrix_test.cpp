// The fault matrix: for every step of a download as the phone names it, the
// phone unplugged, fallen silent, or answering an unexpected status, flashed
// through the module's exports with its clock at 0.01. Each case checks the
// result (a failure, or a success the protocol tolerates and a phone holding
// the package), the time the host took after the fault, that nothing was
// written outside the blocks the package's FS images may use, and that the
// run left no descriptor and no thread behind.
#include <dirent.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <future>
#include <ostream>
#include <set>
#include <string>
#include <thread>

#include "expected_events.h"
#include "host/flash_runner.h"
#include "hxphone/faults.h"
#include "hxphone/verify.h"
#include "phone_bench.h"

namespace {

using Clock = std::chrono::steady_clock;
using hxtest::PackageFile;
using hxtest::PluggedPhone;

constexpr double kTimeScale = 0.01;
// The module's bounds on a wait for the phone, scaled: any answer, and the
// agent's flash scan.
constexpr double kReplyBoundSeconds = 60 * kTimeScale;
constexpr double kFlashScanBoundSeconds = 600 * kTimeScale;
// Link time-outs are protocol timing and are not scaled: the single reads a
// host makes after the fault (the 0xE0 answer and the four shared-data
// statuses, whose failures the download goes past) take up to this much.
constexpr double kLinkTimeoutsSeconds = 5 * 0.6;

enum class Fault { Unplug, Silent, Status };

struct FaultCase {
  std::string step;
  Fault fault;
  std::string name() const {
    std::string n = step + (fault == Fault::Unplug ? "_unplug" : fault == Fault::Silent ? "_silent" : "_status");
    for (char& c : n)
      if (c == '-') c = '_';
    return n;
  }
};

void PrintTo(const FaultCase& c, std::ostream* out) { *out << c.name(); }

std::vector<FaultCase> allCases() {
  std::vector<FaultCase> cases;
  for (std::string_view step : hxphone::kStepNames)
    for (Fault fault : {Fault::Unplug, Fault::Silent, Fault::Status}) cases.push_back({std::string(step), fault});
  return cases;
}

// The watchdog command's answer is not waited for: a download whose phone
// fails there has written everything.
bool toleratedAt(const std::string& step) { return step == "watchdog-on"; }

double boundAfterFault(const std::string& step) {
  const double bound = step == "flash-report" ? kFlashScanBoundSeconds : kReplyBoundSeconds;
  return 1.5 * bound + kLinkTimeoutsSeconds;
}

size_t openDescriptors() {
  size_t n = 0;
  if (DIR* dir = ::opendir("/proc/self/fd")) {
    while (::readdir(dir) != nullptr) ++n;
    ::closedir(dir);
  }
  return n;
}

size_t threads() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("Threads:", 0) == 0) return std::stoul(line.substr(8));
  return 0;
}

// The threads once those that have been joined are gone: a joined thread
// still counts for a moment, until the system has finished its exit.
size_t threadsAfterExits(size_t expected) {
  const auto giveUp = Clock::now() + std::chrono::seconds(2);
  size_t now = threads();
  while (now > expected && Clock::now() < giveUp) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    now = threads();
  }
  return now;
}

// The blocks the package's FS images may write (mapped and reserved blocks)
// and format (those, and the FS area of the ROM information).
struct AllowedWrites {
  std::set<uint32_t> blocks;
  uint64_t formatStart = 0, formatEnd = 0;  // bytes
  explicit AllowedWrites(const pkgbuild::PackageLayout& layout) {
    for (const auto& fs : layout.fsImages) {
      for (const auto& b : fs.mappedBlocks) blocks.insert(b.block);
      for (const auto& b : fs.reservedBlocks) blocks.insert(b.block);
    }
    formatStart = layout.fsFormatAreaStart;
    formatEnd = layout.fsFormatAreaStart + layout.fsFormatAreaLength;
  }
  // The first write or format of the record outside them, or "".
  std::string strayIn(const nlohmann::json& record, uint32_t blockDataSize) const {
    for (const auto& w : record["blockWrites"])
      if (!blocks.count(w["block"].get<uint32_t>())) return "block write to " + w["block"].dump();
    for (const auto& f : record["formats"]) {
      const uint64_t start = f["start"].get<uint64_t>(), end = start + f["length"].get<uint64_t>();
      const bool inArea = start >= formatStart && end <= formatEnd;
      bool ofAllowedBlocks = true;
      for (uint64_t b = start / blockDataSize; b < end / blockDataSize; ++b) ofAllowedBlocks &= blocks.count(static_cast<uint32_t>(b)) > 0;
      if (!inArea && !ofAllowedBlocks) return "format of " + f.dump();
    }
    return {};
  }
};

// What the run found, printed at its end.
struct Tally {
  int cases = 0, hangs = 0, falseSuccesses = 0, strayWrites = 0, leaks = 0;
};
Tally g_tally;

class TallyPrinter : public testing::Environment {
 public:
  void TearDown() override {
    std::printf("[ faults   ] %d cases, %d hangs, %d false successes, %d stray writes, %d leaks\n", g_tally.cases,
                g_tally.hangs, g_tally.falseSuccesses, g_tally.strayWrites, g_tally.leaks);
  }
};
[[maybe_unused]] testing::Environment* const g_tallyPrinter = testing::AddGlobalTestEnvironment(new TallyPrinter);

// What one flash with a faulty phone gave.
struct FaultRun {
  hxflash::PhoneResult result;
  double secondsAfterFault = 0;  // from the fault to the host's end; 0 when no step fault struck
};

// Flashes one phone through the exports and checks what every case shares:
// nothing written outside the package's FS blocks, no descriptor and no
// thread left behind, and a failure or (where the protocol tolerates the
// fault) a success with the phone holding the package.
FaultRun flashFaulty(const PackageFile& package, const hxphone::PhoneOptions& options, bool tolerated) {
  hxtest::PortsDir ports;
  PluggedPhone phone(ports, 41, options, hxphone::freshNand(options));
  // A sanitizer's runtime starts a thread of its own with the process's
  // first thread: one started and joined here makes it counted before.
  std::thread([] {}).join();
  const size_t descriptorsBefore = openDescriptors();
  const size_t threadsBefore = threads();
  const auto results = hxtest::flashPhones(package.path(), {&phone}, kTimeScale);
  const Clock::time_point hostDone = Clock::now();
  FaultRun run;
  EXPECT_EQ(results.size(), 1u);
  if (results.empty()) return run;
  run.result = results[0];
  if (const auto struck = phone.phone().faultStruck())
    run.secondsAfterFault = std::chrono::duration<double>(hostDone - *struck).count();

  if (tolerated) {
    EXPECT_TRUE(run.result.succeeded) << phone.phone().failure();
    const hxphone::VerifyReport report = hxphone::verifyNand(phone.phone().nand(), package.built());
    EXPECT_TRUE(report.ok()) << report.text();
  } else {
    EXPECT_FALSE(run.result.succeeded) << "a false success";
    g_tally.falseSuccesses += run.result.succeeded ? 1 : 0;
  }
  const std::string stray =
      AllowedWrites(package.built().layout).strayIn(phone.phone().record(), package.built().layout.geometry.blockDataSize);
  EXPECT_EQ(stray, "") << "a write outside the package's FS blocks";
  const size_t threadsAfter = threadsAfterExits(threadsBefore);
  const bool leaked = openDescriptors() != descriptorsBefore || threadsAfter != threadsBefore;
  EXPECT_EQ(openDescriptors(), descriptorsBefore) << "a descriptor was left open";
  EXPECT_EQ(threadsAfter, threadsBefore) << "a thread was left running";
  ++g_tally.cases;
  g_tally.strayWrites += stray.empty() ? 0 : 1;
  g_tally.leaks += leaked ? 1 : 0;
  return run;
}

// A suite whose cases share one package, written once.
template <class Case, pkgbuild::PackageRecipe (*recipe)()>
class SuiteWithPackage : public testing::TestWithParam<Case> {
 protected:
  static void SetUpTestSuite() { s_package = new PackageFile(recipe()); }
  static void TearDownTestSuite() {
    delete s_package;
    s_package = nullptr;
  }
  static inline PackageFile* s_package = nullptr;
};

pkgbuild::PackageRecipe tinyPackage() { return pkgbuild::tinyRecipe(2048); }

// Three spares per region: room for the bad blocks and each image's new info block.
pkgbuild::PackageRecipe packageWithSpares() {
  pkgbuild::PackageRecipe recipe = pkgbuild::tinyRecipe(2048);
  recipe.fs[0].reservedPerRegion = 3;
  return recipe;
}

class FaultMatrix : public SuiteWithPackage<FaultCase, tinyPackage> {};

TEST_P(FaultMatrix, HostFailsPromptlyWritesNothingStrayAndLeavesNothingBehind) {
  const FaultCase& c = GetParam();
  hxphone::PhoneOptions options = hxtest::phoneFor(s_package->built());
  (c.fault == Fault::Unplug ? options.faults.unplugAtStep
   : c.fault == Fault::Silent ? options.faults.silentAtStep
                              : options.faults.statusAtStep) = c.step;
  const FaultRun run = flashFaulty(*s_package, options, toleratedAt(c.step));
  std::printf("[ fault    ] %-28s %-8s %6.2f s after the fault (bound %.2f s)\n", c.name().c_str(),
              run.result.succeeded ? "success" : "failure", run.secondsAfterFault, boundAfterFault(c.step));
  EXPECT_GT(run.secondsAfterFault, 0) << "the fault never struck";
  EXPECT_LE(run.secondsAfterFault, boundAfterFault(c.step)) << "the host waited past its bound";
  g_tally.hangs += run.secondsAfterFault > boundAfterFault(c.step) ? 1 : 0;
}

INSTANTIATE_TEST_SUITE_P(Steps, FaultMatrix, testing::ValuesIn(allCases()),
                         [](const auto& param) { return param.param.name(); });

// Faults that are not tied to the beginning of a step: wrong checksums, bad
// blocks at every kind of place, a phone that goes in the middle of a bulk
// transfer or of the second FS image.
struct ClassCase {
  const char* name;
  std::function<void(hxphone::PhoneOptions&, const pkgbuild::PackageLayout&)> fault;
  bool tolerated;
};

void PrintTo(const ClassCase& c, std::ostream* out) { *out << c.name; }

const pkgbuild::FsImageLayout& firstFs(const pkgbuild::PackageLayout& layout) { return layout.fsImages.at(0); }
std::vector<uint32_t> sparesOf(const pkgbuild::FsImageLayout& fs, uint32_t region) {
  std::vector<uint32_t> spares;
  for (const auto& b : fs.reservedBlocks)
    if (b.region == region) spares.push_back(b.block);
  return spares;
}

std::vector<ClassCase> classCases() {
  using Options = hxphone::PhoneOptions;
  using Layout = pkgbuild::PackageLayout;
  return {
      {"agent_image_checksum", [](Options& o, const Layout&) { o.faults.badAgentChecksum = true; }, false},
      {"block_checksum", [](Options& o, const Layout&) { o.faults.badBlockChecksumAt = 1; }, false},
      {"read_back_sum_once", [](Options& o, const Layout&) { o.faults.badReadBackSums = 1; }, true},
      {"read_back_sum_always", [](Options& o, const Layout&) { o.faults.badReadBackSums = 1000; }, false},
      {"packets_resent", [](Options& o, const Layout&) { o.faults.resendPackets = 3; }, true},
      {"unplug_in_agent_image", [](Options& o, const Layout&) { o.faults.unplugAfterBytes = 20000; }, false},
      // About 105 KB come before the ROM images, which are about 200 KB.
      {"unplug_in_nfb", [](Options& o, const Layout&) { o.faults.unplugAfterBytes = 150000; }, false},
      {"unplug_in_second_fs_image", [](Options& o, const Layout& l) {
         o.faults.unplugAtStep = "write-block";
         o.faults.unplugAtOccurrence = static_cast<uint32_t>(firstFs(l).mappedBlocks.size()) + 2;
       }, false},
      {"first_data_block_bad", [](Options& o, const Layout& l) { o.factoryBadBlocks = {firstFs(l).mappedBlocks.front().block}; }, true},
      {"last_data_block_fails", [](Options& o, const Layout& l) { o.failingBlocks = {firstFs(l).mappedBlocks.back().block}; }, true},
      {"consecutive_data_blocks_bad", [](Options& o, const Layout& l) {
         o.factoryBadBlocks = {firstFs(l).mappedBlocks[0].block, firstFs(l).mappedBlocks[1].block};
       }, true},
      {"spare_bad", [](Options& o, const Layout& l) {  // region 1: region 0's spares hold the info blocks
         const auto& fs = firstFs(l);
         o.factoryBadBlocks = {fs.mappedBlocks[1].block, sparesOf(fs, fs.mappedBlocks[1].region).front()};
       }, true},
      {"info_block_candidate_bad", [](Options& o, const Layout& l) { o.factoryBadBlocks = {sparesOf(firstFs(l), 0).back()}; }, true},
      {"all_spares_of_a_region_bad", [](Options& o, const Layout& l) {
         const auto& fs = firstFs(l);
         const uint32_t region = fs.mappedBlocks[0].region;
         o.factoryBadBlocks = sparesOf(fs, region);
         o.factoryBadBlocks.push_back(fs.mappedBlocks[0].block);
       }, false},
  };
}

class FaultClasses : public SuiteWithPackage<ClassCase, packageWithSpares> {};

TEST_P(FaultClasses, HostEndsRightWritesNothingStrayAndLeavesNothingBehind) {
  const ClassCase& c = GetParam();
  hxphone::PhoneOptions options = hxtest::phoneFor(s_package->built());
  c.fault(options, s_package->built().layout);
  const FaultRun run = flashFaulty(*s_package, options, c.tolerated);
  std::printf("[ fault    ] %-28s %-8s after %.2f s\n", c.name, run.result.succeeded ? "success" : "failure",
              run.result.seconds);
}

INSTANTIATE_TEST_SUITE_P(Classes, FaultClasses, testing::ValuesIn(classCases()),
                         [](const auto& param) { return std::string(param.param.name); });

// Inside the bulk transfers: the phone unplugged, or one byte turned by line
// noise, at several offsets into the step's first run. Noise toward the
// phone (host's bytes) except for the read-back, whose bulk flows from it.
struct TransferCase {
  const char* step;
  enum Kind { Unplug, Noise } kind;
  uint64_t offset;
  bool tolerated;
  std::string name() const {
    std::string n = std::string(step) + (kind == Unplug ? "_unplug_at_" : "_noise_at_") + std::to_string(offset);
    for (char& c : n)
      if (c == '-') c = '_';
    return n;
  }
};

void PrintTo(const TransferCase& c, std::ostream* out) { *out << c.name(); }

std::vector<TransferCase> transferCases() {
  struct Noise {
    uint64_t at;     // into the step: the agent image is 82808 bytes, a block 135168
    bool tolerated;  // a checksum the host acts on catches it and the chunk is sent again
  };
  struct Bulk {
    const char* step;
    std::vector<Noise> noise;
    uint64_t unplugAt;
  };
  const Bulk bulks[] = {
      {"load-da1", {{100, false}, {40000, false}, {82000, false}}, 40000},
      {"nfb", {{100, false}, {50000, false}, {150000, false}}, 50000},
      {"write-block", {{100, false}, {60000, false}, {130000, false}}, 60000},
      // Only the header: write-pages carries no checksum of its pages that
      // the host may compare, so noise inside a page cannot be caught.
      {"write-pages", {{20, false}}, 1000},
      // The agent's description of its chunks, then inside two chunks.
      {"read-back", {{10, false}, {5000, true}, {60000, true}}, 5000},
  };
  std::vector<TransferCase> cases;
  for (const Bulk& bulk : bulks) {
    for (const Noise& noise : bulk.noise) cases.push_back({bulk.step, TransferCase::Noise, noise.at, noise.tolerated});
    cases.push_back({bulk.step, TransferCase::Unplug, bulk.unplugAt, false});
  }
  return cases;
}

class FaultsInTransfers : public SuiteWithPackage<TransferCase, packageWithSpares> {};

TEST_P(FaultsInTransfers, HostEndsRightWritesNothingStrayAndLeavesNothingBehind) {
  const TransferCase& c = GetParam();
  hxphone::PhoneOptions options = hxtest::phoneFor(s_package->built());
  hxphone::InStepFault fault{c.step, c.offset};
  if (c.kind == TransferCase::Unplug)
    options.faults.unplugIn = fault;
  else if (std::string(c.step) == "read-back")
    options.faults.noiseOut = fault;
  else
    options.faults.noiseIn = fault;
  const FaultRun run = flashFaulty(*s_package, options, c.tolerated);
  EXPECT_GT(run.secondsAfterFault, 0) << "the fault never struck: the step's transfer is shorter";
  // After noise the host sends the rest of the transfer before a checksum
  // can tell: that is not a wait, and gets an allowance of its own.
  constexpr double kRestOfTransferSeconds = 5;
  EXPECT_LT(run.secondsAfterFault, boundAfterFault(c.step) + kRestOfTransferSeconds);
  std::printf("[ fault    ] %-28s %-8s %.2f s after the fault\n", c.name().c_str(),
              run.result.succeeded ? "success" : "failure", run.secondsAfterFault);
}

INSTANTIATE_TEST_SUITE_P(Transfers, FaultsInTransfers, testing::ValuesIn(transferCases()),
                         [](const auto& param) { return param.param.name(); });

}  // namespace

namespace {

// Two phones at once, one of which goes silent in the middle of its FS
// images: the other is flashed as if alone.
TEST(FaultBeside, PhoneBesideAFaultyOneIsFlashed) {
  PackageFile package(pkgbuild::tinyRecipe(2048));
  hxtest::PortsDir ports;
  const hxphone::PhoneOptions good = hxtest::phoneFor(package.built());
  hxphone::PhoneOptions faulty = good;
  faulty.faults.silentAtStep = "write-block";
  PluggedPhone a(ports, 41, good, hxphone::freshNand(good));
  PluggedPhone b(ports, 42, faulty, hxphone::freshNand(faulty));
  const auto results = hxtest::flashPhones(package.path(), {&a, &b}, kTimeScale);
  ASSERT_EQ(results.size(), 2u);
  for (const auto& r : results) {
    if (r.comPort == 41) {
      EXPECT_TRUE(r.succeeded);
      EXPECT_EQ(r.events, hxtest::expectedSuccessEvents(package.built()));
    } else {
      EXPECT_FALSE(r.succeeded);
    }
  }
  const hxphone::VerifyReport report = hxphone::verifyNand(a.phone().nand(), package.built());
  EXPECT_TRUE(report.ok()) << report.text();
}

}  // namespace
