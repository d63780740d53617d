// A port's row in the station's view: it fits the terminal whatever its
// figures, and its figures follow what the session reports.
#include <gtest/gtest.h>

#include <filesystem>

#include "expected_events.h"
#include "pkgbuild/package_builder.h"
#include "station/port_row.h"
#include "system/tty_drivers_linux.h"

namespace {

using hxflash::formatRow;
using hxflash::HostEvent;
using hxflash::PortRow;
using hxflash::PortState;
using hxflash::TransferPlan;
using hxflash::ViewClock;
using namespace std::chrono_literals;

const HostEvent kConnected{hxflash::kNotifyConnected, 0, ""};

HostEvent status(const char* text, int value = 0) { return {hxflash::kNotifyStatus, value, text}; }
HostEvent progress(int value) { return {hxflash::kNotifyProgress, value, ""}; }

TEST(PortRowLayout, EveryRowFitsItsTerminalWhateverItsFigures) {
  TransferPlan huge;
  huge.romImage = 5'000'000'000'000ull;  // terabytes, to widen every figure
  const auto t0 = ViewClock::now();
  struct Case {
    const char* name;
    std::vector<HostEvent> events;
    int phone;
    ViewClock::time_point now;
  };
  const std::vector<Case> cases = {
      {"waiting", {}, 1, t0},
      {"writing for days", {kConnected, status("Start Write Bootloader"), status("Send ROM Image"), progress(99)},
       123456, t0 + 400h},
      {"a step text longer than any terminal",
       {kConnected, status("Start Write NFB Image"), status(std::string(300, 'x').c_str())}, 7, t0 + 1s},
      {"resetting", {kConnected, status("Start Write Bootloader"), progress(50), status("Waiting for Reset 80 sec..")},
       99999, t0 + 100h},
      {"failed", {kConnected, status("Start Write FS Image"), {hxflash::kNotifyError, 0, "Error"}}, 1, t0 + 59min},
  };
  for (const Case& c : cases) {
    PortRow row(255, huge);
    row.notice(std::string(200, 'w'));
    for (const HostEvent& e : c.events) row.take(c.phone, e, t0);
    for (size_t width : {80u, 40u, 1u}) {
      EXPECT_LE(formatRow(row, c.now, width).size(), width - 1) << c.name << " at width " << width;
      EXPECT_LE(hxflash::formatRowHeader(width).size(), width - 1);
    }
  }
}

TEST(PortRowFigures, ThroughputCountsFromTheFirstWriteAndTimeLeftFromTheBytesStillToSend) {
  TransferPlan plan;
  plan.extBootloader = 1000;
  plan.bootloader = 1000;
  plan.romImage = 8000;  // 10000 bytes in all
  PortRow row(41, plan);
  const auto t0 = ViewClock::now();
  row.take(1, kConnected, t0);
  row.take(1, status("Start DA Connect"), t0);
  EXPECT_EQ(row.state(), PortState::Connecting);
  row.take(1, status("Start Write Bootloader"), t0 + 2s);  // the agent's flash scan took 2 s
  row.take(1, status("Send ext Bootloader"), t0 + 2s);
  row.take(1, progress(100), t0 + 3s);
  row.take(1, progress(50), t0 + 4s);  // the bootloader's own percentage begins again
  row.take(1, status("Write Bootloader Complete", 100), t0 + 4s);
  row.take(1, status("Send ROM Image"), t0 + 4s);
  row.take(1, progress(25), t0 + 6s);
  EXPECT_EQ(row.state(), PortState::Writing);

  const hxflash::RowFigures f = row.figures(t0 + 6s);
  EXPECT_EQ(f.bytes, 4000u);  // both bootloaders and a quarter of the ROM image
  EXPECT_EQ(f.percent, 40);
  EXPECT_DOUBLE_EQ(f.elapsed, 6.0);
  EXPECT_DOUBLE_EQ(f.bytesPerSecond, 1000.0);  // 4000 bytes in the 4 s since the first write
  ASSERT_TRUE(f.left.has_value());
  EXPECT_DOUBLE_EQ(*f.left, 6.0);  // 6000 bytes at 1000 bytes a second

  // The countdown: everything sent, the throughput stays that of the
  // writing, and the time left is the countdown's.
  row.take(1, status("Waiting for Reset 80 sec..", 100), t0 + 10s);
  row.take(1, status("Waiting for Reset 79 sec..", 100), t0 + 11s);
  const hxflash::RowFigures r = row.figures(t0 + 20s);
  EXPECT_EQ(row.state(), PortState::Resetting);
  EXPECT_EQ(r.percent, 100);
  EXPECT_DOUBLE_EQ(r.bytesPerSecond, 10000.0 / 8.0);
  ASSERT_TRUE(r.left.has_value());
  EXPECT_DOUBLE_EQ(*r.left, 79.0);
}

TEST(TransferTracker, AWholeDownloadOfARealPackageGoesOnlyForwardTo100) {
  const std::string path = std::filesystem::temp_directory_path() / ("hxflash-plan-" + std::to_string(::getpid()));
  const pkgbuild::BuiltPackage package = pkgbuild::writePackage(path, pkgbuild::tinyRecipe(2048));
  const TransferPlan plan = hxflash::planTransfer(path);
  std::filesystem::remove(path);
  ASSERT_GT(plan.total(), 0u);
  ASSERT_FALSE(plan.fsImages.empty());

  hxflash::TransferTracker tracker(plan);
  uint64_t last = 0;
  uint64_t beforeCountdown = 0;
  for (const HostEvent& e : hxtest::expectedSuccessEvents(package)) {
    if (e.text.starts_with(hxflash::kCountdownPrefix) && beforeCountdown == 0) beforeCountdown = tracker.bytesDone();
    tracker.take(e);
    EXPECT_GE(tracker.bytesDone(), last) << "after (" << e.code << ", " << e.value << ", " << e.text << ")";
    last = tracker.bytesDone();
  }
  EXPECT_EQ(beforeCountdown, plan.total()) << "the last FS image's data ends the download";
  EXPECT_EQ(tracker.percent(), 100);
}

// A device is a terminal when a tty driver of the kernel serves its number.
TEST(TtyDrivers, TellATerminalByItsDeviceNumber) {
  constexpr std::string_view kDrivers =
      "/dev/tty             /dev/tty        5       0 system:/dev/tty\n"
      "/dev/ptmx            /dev/ptmx       5       2 system\n"
      "usbserial            /dev/ttyUSB   188 0-511 serial\n"
      "acm                  /dev/ttyACM   166 0-255 serial\n"
      "serial               /dev/ttyS       4 64-111 serial\n"
      "pty_slave            /dev/pts      136 0-1048575 pty:slave\n";
  struct Case {
    uint32_t major, minor;
    bool terminal;
  } cases[] = {{166, 0, true}, {166, 255, true}, {166, 256, false}, {136, 7, true}, {4, 64, true},
               {4, 63, false}, {1, 3, false} /* /dev/null */, {5, 2, true}, {5, 1, false}};
  for (const Case& c : cases)
    EXPECT_EQ(hxflash::isTerminalDevice(c.major, c.minor, kDrivers), c.terminal) << c.major << ":" << c.minor;
  EXPECT_EQ(hxflash::isTerminalDevice(1, 3, ""), std::nullopt) << "nothing listed: cannot tell";
}

}  // namespace
