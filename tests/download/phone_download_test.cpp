// The protocol steps against the virtual phone: the BootROM connection and the
// whole download sequence over a socket pair, then the phone's NAND checked
// against the package builder's description of the package.
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <ostream>

#include <chrono>
#include <filesystem>

#include "event_recorder.h"
#include "hxphone/nand_preload.h"
#include "hxphone/verify.h"
#include "hxphone/virtual_phone.h"
#include "pkgbuild/package_builder.h"
#include "download/agent_images.h"
#include "protocol/bootrom.h"
#include "download/download_sequence.h"
#include "log_capture.h"

namespace hx::test {
namespace {

// A Link over one end of a socket pair, with the link's time-out rules.
class SocketLink : public Link {
 public:
  explicit SocketLink(int fd) : m_fd(fd) {}
  ~SocketLink() override { ::close(m_fd); }

  int write(const uint8_t* bytes, size_t n) override {
    size_t done = 0;
    while (done < n) {
      const ssize_t w = ::send(m_fd, bytes + done, n - done, MSG_NOSIGNAL);
      if (w <= 0) return done == 0 ? kLinkNothingWritten : kLinkFailed;
      done += static_cast<size_t>(w);
    }
    return kLinkOk;
  }

  int read(uint8_t* dest, size_t n, size_t* got) override {
    *got = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(n + m_readMs);
    while (*got < n) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      pollfd p{m_fd, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
      const ssize_t r = ::recv(m_fd, dest + *got, n - *got, 0);
      if (r <= 0) return kLinkFailed;  // the phone has gone
      *got += static_cast<size_t>(r);
    }
    if (*got == n) return kLinkOk;
    return *got == 0 ? kLinkNothingReceived : kLinkFailed;
  }

  int setTimeouts(uint32_t readMs, uint32_t) override {
    m_readMs = readMs;
    return kLinkOk;
  }

 private:
  int m_fd;
  uint32_t m_readMs = 20;
};

enum class Preload { Blank, SameVersion, OtherVersion };

struct Scenario {
  const char* name;
  uint32_t pageSize;
  bool badBlocks;
  Preload preload = Preload::Blank;
};

// Test names and messages show the case by its name.
void PrintTo(const Scenario& c, std::ostream* out) { *out << c.name; }

class PhoneDownload : public testing::TestWithParam<Scenario> {};

TEST_P(PhoneDownload, PhoneHoldsThePackageAfterwards) {
  const Scenario& s = GetParam();
  const std::string path = (std::filesystem::temp_directory_path() /
                            ("hx-phone-download-" + std::to_string(::getpid()) + "-" + s.name + ".bin"))
                               .string();
  pkgbuild::PackageRecipe description = pkgbuild::tinyRecipe(s.pageSize);
  // Room for a replaced data block and the info block's rotation in every region.
  for (pkgbuild::FsEntryRecipe& fs : description.fs) fs.reservedPerRegion = 4;
  const pkgbuild::BuiltPackage built = pkgbuild::writePackage(path, description);

  PackageRecords records;
  hxtest::LogCapture capture;
  ASSERT_TRUE(loadPackage(path, records));
  records.fsImageCount = kFsImageAddresses;
  SessionImages images;
  prepareAgentImages(records, images);

  hxphone::PhoneOptions options;
  options.geometry = s.pageSize == 512 ? hxphone::NandGeometry::smallPage(1024) : hxphone::NandGeometry::largePage(1024);
  options.nandDevice = s.pageSize == 512 ? 0x76 : 0xF1;
  options.logSink = [](const std::string&) {};
  if (s.badBlocks) {
    ASSERT_FALSE(built.layout.fsImages.empty());
    const auto& mapped = built.layout.fsImages[0].mappedBlocks;
    ASSERT_GE(mapped.size(), 2u);
    options.factoryBadBlocks = {mapped[1].block};
    options.failingBlocks = {mapped[0].block};
  }
  hxphone::PreloadedState preloaded;
  std::vector<hxphone::PreloadRemap> remaps;
  if (s.preload == Preload::SameVersion) {
    const auto& fs0 = built.layout.fsImages[0];
    for (const auto& spare : fs0.reservedBlocks)
      if (spare.region == fs0.mappedBlocks[0].region) {
        remaps.push_back({0, spare.block});
        break;
      }
  }
  hxphone::VirtualPhone phone(options, s.preload == Preload::Blank
                                           ? hxphone::freshNand(options)
                                           : hxphone::preloadOlderFirmware(options, description,
                                                                           {s.preload == Preload::SameVersion, remaps},
                                                                           &preloaded));
  int fds[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
  phone.start(fds[1]);

  FastClock fast(0.01);
  EventRecorder events(41);
  int connect = -1, download = -1;
  {
    SocketLink link(fds[0]);
    connect = connectBootRom(link, images.agent.da1, images.agent.da2, events);
    download = runDownload(link, {&images, &records, records.fsImageCount}, events);
  }
  const hxphone::Outcome outcome = phone.wait();
  ::close(fds[1]);
  std::filesystem::remove(path);
  std::filesystem::remove(pkgbuild::descPathFor(path));

  EXPECT_EQ(connect, 0);
  EXPECT_EQ(download, 0);
  EXPECT_EQ(outcome, hxphone::Outcome::Reset) << phone.failure();
  const hxphone::VerifyReport report = hxphone::verifyNand(phone.nand(), built);
  // Verify also finds exactly one info block per info area: the old ones erased.
  if (s.preload != Preload::Blank) {
    EXPECT_FALSE(preloaded.oldInfoBlocks.empty());
  }
  EXPECT_TRUE(report.ok()) << report.text();
  ASSERT_FALSE(events.events.empty());
  EXPECT_EQ(events.events.back().text, "");  // the last FS image's progress 100
  EXPECT_EQ(events.events.back().value, 100);
}

INSTANTIATE_TEST_SUITE_P(Geometries, PhoneDownload,
                         testing::Values(Scenario{"large", 2048, false}, Scenario{"small", 512, false},
                                         Scenario{"largeBad", 2048, true}, Scenario{"smallBad", 512, true},
                                         Scenario{"sameVersion", 2048, true, Preload::SameVersion},
                                         Scenario{"otherVersion", 512, false, Preload::OtherVersion}),
                         [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace hx::test
