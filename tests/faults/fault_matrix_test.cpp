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
#include <future>
#include <ostream>
#include <set>
#include <string>
#include <thread>

#include "flash_runner.h"
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

class FaultMatrix : public testing::TestWithParam<FaultCase> {
 protected:
  static void SetUpTestSuite() { s_package = new PackageFile(pkgbuild::tinyRecipe(2048)); }
  static void TearDownTestSuite() {
    delete s_package;
    s_package = nullptr;
  }
  static PackageFile* s_package;
};
PackageFile* FaultMatrix::s_package = nullptr;

TEST_P(FaultMatrix, HostFailsPromptlyWritesNothingStrayAndLeavesNothingBehind) {
  const FaultCase& c = GetParam();
  const PackageFile& package = *s_package;
  hxphone::PhoneOptions options = hxtest::phoneFor(package.built());
  (c.fault == Fault::Unplug ? options.faults.unplugAtStep
   : c.fault == Fault::Silent ? options.faults.silentAtStep
                              : options.faults.statusAtStep) = c.step;

  hxtest::PortsDir ports;
  PluggedPhone phone(ports, 41, options, hxphone::freshNand(options));
  const size_t descriptorsBefore = openDescriptors();
  const size_t threadsBefore = threads();
  const auto results = hxtest::flashPhones(package.path(), {&phone}, kTimeScale);
  const Clock::time_point hostDone = Clock::now();

  ASSERT_EQ(results.size(), 1u);
  const hxflash::PhoneResult& result = results[0];
  const auto struck = phone.phone().faultStruck();
  ASSERT_TRUE(struck.has_value()) << "the fault never struck: " << phone.phone().failure();
  const double secondsAfterFault = std::chrono::duration<double>(hostDone - *struck).count();
  std::printf("[ fault    ] %-28s %-8s %6.2f s after the fault (bound %.2f s)\n", c.name().c_str(),
              result.succeeded ? "success" : "failure", secondsAfterFault, boundAfterFault(c.step));

  if (toleratedAt(c.step)) {
    EXPECT_TRUE(result.succeeded);
    const hxphone::VerifyReport report = hxphone::verifyNand(phone.phone().nand(), package.built());
    EXPECT_TRUE(report.ok()) << report.text();
  } else {
    EXPECT_FALSE(result.succeeded) << "a false success";
  }
  EXPECT_LE(secondsAfterFault, boundAfterFault(c.step)) << "the host waited past its bound";
  const std::string stray =
      AllowedWrites(package.built().layout).strayIn(phone.phone().record(), package.built().layout.geometry.blockDataSize);
  EXPECT_EQ(stray, "") << "a write outside the package's FS blocks";
  EXPECT_EQ(openDescriptors(), descriptorsBefore) << "a descriptor was left open";
  EXPECT_EQ(threads(), threadsBefore) << "a thread was left running";
}

INSTANTIATE_TEST_SUITE_P(Steps, FaultMatrix, testing::ValuesIn(allCases()),
                         [](const auto& param) { return param.param.name(); });

}  // namespace
