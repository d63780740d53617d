#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "hxphone/link_turns.h"

namespace hxphone {
namespace {

using Clock = LinkTurns::Clock;

std::string temporaryPath(const char* name) {
  return (std::filesystem::temp_directory_path() / (std::string(name) + "-" + std::to_string(::getpid()))).string();
}

// Host bytes taken in pieces stay one turn until the phone has answered; an
// answer in pieces, or the phone speaking twice, stays in the turn it
// answers; the last request may have no answer.
TEST(LinkTurns, ATurnIsTheHostBytesBeforeAnAnswerAndTheAnswer) {
  const Clock::time_point t0 = Clock::time_point() + std::chrono::seconds(7);
  const auto at = [&](int us) { return t0 + std::chrono::microseconds(us); };
  const auto turn = [&](int us, uint64_t host, uint64_t phone) {
    const int64_t ns = std::chrono::duration_cast<std::chrono::nanoseconds>(at(us).time_since_epoch()).count();
    return LinkTurn{.startNs = ns, .hostBytes = host, .phoneBytes = phone};
  };
  LinkTurns turns;
  turns.phoneBytesSent(0, at(0));       // nothing moved: no turn
  turns.hostBytesTaken(1, at(10));      // a handshake byte, answered
  turns.phoneBytesSent(1, at(11));
  turns.hostBytesTaken(4000, at(20));   // a packet taken in three pieces
  turns.hostBytesTaken(4000, at(21));
  turns.hostBytesTaken(96, at(22));
  turns.phoneBytesSent(1, at(23));      // answered, then the phone's own byte
  turns.phoneBytesSent(2, at(24));
  turns.hostBytesTaken(4, at(30));      // never answered
  EXPECT_EQ(turns.turns(), (std::vector<LinkTurn>{turn(10, 1, 1), turn(20, 8096, 3), turn(30, 4, 0)}));
}

TEST(LinkTurns, TheFileReadsBackAndAMalformedLineIsRefused) {
  LinkTurns turns;
  const Clock::time_point t0 = Clock::time_point() + std::chrono::hours(30);
  turns.hostBytesTaken(1, t0);
  turns.phoneBytesSent(1, t0 + std::chrono::nanoseconds(1));
  turns.hostBytesTaken(135168, t0 + std::chrono::nanoseconds(999));
  const std::string path = temporaryPath("hxphone-turns");
  ASSERT_TRUE(turns.writeFile(path));
  const LinkTurnsRead read = readLinkTurns(path);
  EXPECT_EQ(read.error, "");
  EXPECT_EQ(read.turns, turns.turns());

  for (const char* line : {"12 1", "12 1 1 1", "12 -1 1", "x 1 1", "12  1 1", "12 1 1 ", "99999999999999999999 1 1"}) {
    std::ofstream(path, std::ios::trunc) << "# steady-clock-ns host-bytes phone-bytes\n10 1 1\n" << line << "\n";
    const LinkTurnsRead bad = readLinkTurns(path);
    EXPECT_NE(bad.error, "") << line;
    EXPECT_TRUE(bad.turns.empty()) << line;
  }
  std::remove(path.c_str());
  EXPECT_NE(readLinkTurns(path).error, "");
}

}  // namespace
}  // namespace hxphone
