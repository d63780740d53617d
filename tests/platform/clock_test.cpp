#include "platform/clock.h"

#include <gtest/gtest.h>

namespace {

TEST(TimeScale, RefusesFactorsOutsideTheUnitInterval) {
  const double before = hx::timeScale();
  for (double bad : {0.0, -1.0, 1.5, 2.0}) EXPECT_FALSE(hx::setTimeScale(bad)) << bad;
  EXPECT_EQ(hx::timeScale(), before);
  EXPECT_TRUE(hx::setTimeScale(0.5));
  EXPECT_EQ(hx::timeScale(), 0.5);
  EXPECT_TRUE(hx::setTimeScale(1.0));
}

TEST(TimeScale, ScalesDeadlines) {
  ASSERT_TRUE(hx::setTimeScale(0.001));
  hx::Deadline d(60'000);  // one minute nominal is 60 ms scaled
  EXPECT_LE(d.remainingMs(), 61u);
  hx::sleepMs(80'000);     // 80 ms real
  EXPECT_TRUE(d.expired());
  ASSERT_TRUE(hx::setTimeScale(1.0));
}

}  // namespace
