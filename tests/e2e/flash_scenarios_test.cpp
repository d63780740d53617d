// Flashing virtual phones through the real module's exports.
#include <gtest/gtest.h>

#include "expected_events.h"
#include "phone_bench.h"

namespace {

using hxtest::PackageFile;
using hxtest::PluggedPhone;

class FlashScenario : public ::testing::TestWithParam<uint32_t> {
 protected:
  hxtest::PortsDir ports;
};

TEST_P(FlashScenario, CleanPhoneIsFlashedWithTheExactEventStream) {
  PackageFile package(pkgbuild::tinySpec(GetParam()));
  const hxphone::PhoneOptions options = hxtest::phoneFor(package.built());
  PluggedPhone phone(ports, 41, options, hxphone::freshNand(options));

  const auto results = hxtest::flashPhones(package.path(), {&phone});
  ASSERT_EQ(results.size(), 1u);
  EXPECT_TRUE(results[0].connected);
  EXPECT_TRUE(results[0].succeeded) << phone.phone().failure();
  EXPECT_EQ(phone.phone().outcome(), hxphone::Outcome::Reset) << phone.phone().failure();
  const auto expected = hxtest::expectedSuccessEvents(package.built());
  EXPECT_EQ(results[0].events, expected) << "got:\n"
                                         << hxtest::describe(results[0].events) << "expected:\n"
                                         << hxtest::describe(expected);
}

INSTANTIATE_TEST_SUITE_P(PageSizes, FlashScenario, ::testing::Values(2048u, 512u),
                         [](const auto& param) { return "Page" + std::to_string(param.param); });

}  // namespace
