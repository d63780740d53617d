#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "log_capture.h"
#include "platform/log.h"

namespace {

TEST(LogLines, PiecesBecomeWholeLinesAndACutTextEndsItsLine) {
  hxtest::LogCapture log;
  {
    hx::LogLines lines(41);
    lines.print("Write Block num = %u\n", 42u);
    lines.write("...");
    lines.write("..\nnext\nopen");  // the open line is sent when the source ends
    lines.print("%s", std::string(600, 'x').c_str());
  }
  hx::logMessage("Package %s\n", "P.BIN");
  const auto lines = log.lines();
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0].text, "Write Block num = 42");
  EXPECT_EQ(lines[1].text, ".....");
  EXPECT_EQ(lines[2].text, "next");
  EXPECT_EQ(lines[3].text, "open" + std::string(511, 'x'));
  EXPECT_EQ(lines[4].text, "Package P.BIN");
  for (size_t i = 0; i < 4; ++i) EXPECT_EQ(lines[i].comPort, 41u) << i;
  EXPECT_EQ(lines[4].comPort, 0u);
}

TEST(LogLines, ALineWithACodeEndsTheOpenLineFirst) {
  hxtest::LogCapture log;
  hx::LogLines lines(42);
  lines.write("....");
  lines.line(4008, "COM42: download failed");
  const auto got = log.lines();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].text, "....");
  EXPECT_EQ(got[0].code, 0);
  EXPECT_EQ(got[1].text, "COM42: download failed");
  EXPECT_EQ(got[1].code, 4008);
}

TEST(LogMessage, GoesToStandardOutputWithLineEndsWhenNoSinkIsInstalled) {
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  std::fflush(stdout);
  const int saved = ::dup(STDOUT_FILENO);
  ASSERT_GE(saved, 0);
  ASSERT_EQ(::dup2(::fileno(file), STDOUT_FILENO), STDOUT_FILENO);
  hx::logMessage("Connecting to DA...\n");
  {
    hx::LogLines lines(43);
    lines.write("...");
    lines.line(3051, "COM43: download failed");
  }
  ::dup2(saved, STDOUT_FILENO);
  ::close(saved);
  std::rewind(file);
  char text[128] = {};
  const size_t n = std::fread(text, 1, sizeof text - 1, file);
  std::fclose(file);
  EXPECT_EQ(std::string(text, n), "Connecting to DA...\n...\nCOM43: download failed\n");
}

// Sessions log on their own threads while the sink is replaced: calls never
// overlap, each line arrives whole with its own session's port, and once the
// replacement returns the old sink is never called again.
TEST(LogSink, ReplacedWhileSessionsLogNeverOverlapsAndTheOldOneFallsSilent) {
  std::atomic<int> inside{0};
  std::atomic<bool> overlapped{false}, oldCalledAfterSwap{false}, swapped{false}, torn{false};
  std::atomic<int> newCalls{0};
  auto check = [&](unsigned comPort, std::string_view line) {
    if (inside.fetch_add(1) != 0) overlapped = true;
    if (line != "COM" + std::to_string(comPort) + " line") torn = true;
    inside.fetch_sub(1);
  };
  hx::setLogSink([&](unsigned comPort, int, std::string_view line) {
    if (swapped.load()) oldCalledAfterSwap = true;
    check(comPort, line);
  });
  std::atomic<bool> stop{false};
  std::vector<std::thread> sessions;
  for (unsigned com = 41; com <= 44; ++com)
    sessions.emplace_back([&, com] {
      hx::LogLines lines(com);
      while (!stop.load()) {
        lines.write("COM" + std::to_string(com));
        lines.write(" line\n");
      }
    });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  hx::setLogSink([&](unsigned comPort, int, std::string_view line) {
    ++newCalls;
    check(comPort, line);
  });
  swapped = true;
  while (newCalls.load() < 100) std::this_thread::yield();
  stop = true;
  for (std::thread& t : sessions) t.join();
  hx::setLogSink({});
  EXPECT_FALSE(overlapped.load());
  EXPECT_FALSE(torn.load());
  EXPECT_FALSE(oldCalledAfterSwap.load());
}

}  // namespace
