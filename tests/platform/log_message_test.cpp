#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "log_capture.h"
#include "platform/log.h"

namespace {

TEST(LogMessage, WritesTheFormattedTextAndCutsAt511Characters) {
  hxtest::LogCapture log;
  hx::logMessage("Write Block num = %u\n", 42u);
  hx::logMessage("%s", std::string(600, 'x').c_str());
  EXPECT_EQ(log.text(), "Write Block num = 42\n" + std::string(511, 'x'));
}

TEST(LogMessage, GoesToStandardOutputWhenNoSinkIsInstalled) {
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  std::fflush(stdout);
  const int saved = ::dup(STDOUT_FILENO);
  ASSERT_GE(saved, 0);
  ASSERT_EQ(::dup2(::fileno(file), STDOUT_FILENO), STDOUT_FILENO);
  hx::logMessage("Connecting to DA...\n");
  ::dup2(saved, STDOUT_FILENO);
  ::close(saved);
  std::rewind(file);
  char text[64] = {};
  const size_t n = std::fread(text, 1, sizeof text - 1, file);
  std::fclose(file);
  EXPECT_EQ(std::string(text, n), "Connecting to DA...\n");
}

}  // namespace
