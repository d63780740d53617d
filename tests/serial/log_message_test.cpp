#include <gtest/gtest.h>

#include <string>

#include "platform/log.h"

namespace {

TEST(LogMessage, WritesTheFormattedTextAndCutsAt511Characters) {
  testing::internal::CaptureStdout();
  hx::logMessage("Write Block num = %u\n", 42u);
  hx::logMessage("%s", std::string(600, 'x').c_str());
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "Write Block num = 42\n" + std::string(511, 'x'));
}

}  // namespace
