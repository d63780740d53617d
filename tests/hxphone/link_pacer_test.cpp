#include <gtest/gtest.h>

#include "hxphone/link_pacer.h"

namespace hxphone {
namespace {

using Clock = LinkPacer::Clock;
using std::chrono::microseconds;

constexpr uint32_t kRate = 1'000'000;  // a byte a microsecond
const Clock::time_point kStart = Clock::time_point() + std::chrono::seconds(100);

// The caller wakes `late` after each deadline and passes the next piece: the
// run still ends when its bytes at the rate say, not a wake-up's delay later
// per piece, even when a wake-up comes later than the link's slack.
TEST(LinkPacer, LateWakeUpsAreMadeGoodByTheNextPiece) {
  for (microseconds late : {microseconds(0), microseconds(80), microseconds(900), microseconds(5000)}) {
    LinkPacer pacer(kRate, microseconds(1000));
    Clock::time_point now = kStart;
    Clock::time_point crossed{};
    for (int piece = 0; piece < 1000; ++piece) {
      crossed = pacer.pass(now, 1000);
      now = std::max(now, crossed + late);
      pacer.wokeAt(now);
    }
    EXPECT_EQ(crossed, kStart + std::chrono::seconds(1)) << "waking " << late.count() << " us late";
  }
}

// A link idle longer than its slack has banked nothing: the next bytes take
// their full time from when they come.
TEST(LinkPacer, AnIdleLinkStartsAFreshRun) {
  LinkPacer pacer(kRate, microseconds(1000));
  Clock::time_point first = pacer.pass(kStart, 500);
  EXPECT_EQ(first, kStart + microseconds(500));
  Clock::time_point later = first + microseconds(5000);
  EXPECT_EQ(pacer.pass(later, 2000), later + microseconds(2000));
}

// An answer does not start before its turnaround, even on a link that is free.
TEST(LinkPacer, BytesWaitForTheirEarliestStart) {
  LinkPacer pacer(kRate, microseconds(1000));
  pacer.pass(kStart, 100);
  Clock::time_point earliest = kStart + microseconds(400);
  EXPECT_EQ(pacer.pass(kStart + microseconds(150), 1, earliest), earliest + microseconds(1));
  // The rest of the answer follows on at the rate.
  EXPECT_EQ(pacer.pass(earliest + microseconds(3), 64, earliest), earliest + microseconds(65));
}

TEST(PacedLink, ReadsItsOptionText) {
  struct Case {
    const char* text;
    uint32_t rate;
    long turnaroundUs;
  };
  for (const Case& c : {Case{"usb-fs", 1'000'000, 1000}, Case{"usb-fs:1200000", 1'200'000, 1000},
                        Case{"usb-fs:500000:125", 500'000, 125}, Case{"usb-fs:1000000:0", 1'000'000, 0}}) {
    PacedLinkParse parsed = parsePacedLink(c.text);
    ASSERT_TRUE(parsed.link) << c.text << ": " << parsed.error;
    EXPECT_EQ(parsed.link->bytesPerSecond, c.rate) << c.text;
    EXPECT_EQ(parsed.link->turnaround.count(), c.turnaroundUs) << c.text;
  }
  for (const char* bad : {"", "usb", "usb-hs", "usb-fs:", "usb-fs:0", "usb-fs:999", "usb-fs:fast", "usb-fs:1000000:",
                          "usb-fs:1000000:-1", "usb-fs:1000000:2000000", "usb-fs:1000000:1:2"})
    EXPECT_FALSE(parsePacedLink(bad).link) << bad;
}

}  // namespace
}  // namespace hxphone
