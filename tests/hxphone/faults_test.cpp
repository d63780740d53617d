#include <gtest/gtest.h>

#include "hxphone/faults.h"

namespace hxphone {
namespace {

TEST(Faults, ParsesEveryDocumentedName) {
  FaultPlan plan;
  for (const char* text : {"silent", "endless-garbage", "bad-agent-checksum", "no-rom-info", "spare-exhaustion",
                           "garbage-before-ready=7", "bad-block-checksum=2", "resend-packet", "format-fails=3",
                           "bad-readback-sum=4", "unplug-after-bytes=1000", "unplug-at=write-block:3",
                           "silent-at=format:2", "status-at=e0", "slow-link=1000000:1.5"})
    EXPECT_EQ(applyFault(plan, text), "") << text;
  EXPECT_TRUE(plan.silent);
  EXPECT_EQ(plan.garbageBeforeReady, 7u);
  EXPECT_EQ(plan.badBlockChecksumAt, 2u);
  EXPECT_EQ(plan.resendPackets, 1u);
  EXPECT_EQ(plan.formatFailsAt, 3u);
  EXPECT_EQ(plan.badReadBackSums, 4u);
  EXPECT_EQ(*plan.unplugAfterBytes, 1000u);
  EXPECT_EQ(plan.unplugAtStep, "write-block");
  EXPECT_EQ(plan.unplugAtOccurrence, 3u);
  EXPECT_EQ(plan.silentAtStep, "format");
  EXPECT_EQ(plan.silentAtOccurrence, 2u);
  EXPECT_EQ(plan.statusAtStep, "e0");
  EXPECT_EQ(plan.linkBytesPerSecond, 1000000u);
  EXPECT_DOUBLE_EQ(plan.turnaroundLatencyMs, 1.5);
}

TEST(Faults, RefusesWhatItDoesNotKnow) {
  FaultPlan plan;
  for (const char* text : {"loud", "silent=1", "unplug-at=nowhere", "unplug-at=nfb:0", "unplug-after-bytes",
                           "format-fails=x", "slow-link=0", "slow-link=100:abc", "garbage-before-ready=-1",
                           "noise-in=nfb", "noise-out=nowhere:3", "unplug-in=nfb:x"})
    EXPECT_NE(applyFault(plan, text), "") << text;
}

TEST(Faults, EveryFaultIsDescribed) {
  auto described = faultDescriptions();
  FaultPlan plan;
  for (const auto& [name, text] : described) {
    std::string base = name.substr(0, name.find_first_of("=["));
    std::string sample = base;
    if (name.find("=STEP:N") != std::string::npos) sample += "=nfb:5";
    else if (name.find("=STEP") != std::string::npos) sample += "=nfb";
    else if (name.find("=BPS") != std::string::npos) sample += "=1000";
    else if (name.find('=') != std::string::npos && name.find("[=") == std::string::npos) sample += "=5";
    EXPECT_EQ(applyFault(plan, sample), "") << sample;
    EXPECT_FALSE(text.empty());
  }
}

}  // namespace
}  // namespace hxphone
