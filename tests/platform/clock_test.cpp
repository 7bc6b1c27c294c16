#include "platform/clock.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "tests/support/test_support.h"

namespace quarnel {
namespace {

TEST(Clock, FormatsEveryTokenZeroPadded) {
    // 2021-03-03 09:05:07
    const std::int64_t seconds = 1614762307;
    EXPECT_EQ(FormatClock(" %yyyy-%mm-%dd %hh:%ii:%ss ", seconds), " 2021-03-03 09:05:07 ");
    EXPECT_EQ(FormatClock(".%yy%mm%dd.%hh%ii%ss.", seconds), ".210303.090507.");
    EXPECT_EQ(FormatClock("100% %x", seconds), "100% %x");
    // Every field different, so no two can swap unseen.
    EXPECT_EQ(FormatClock("%yyyy-%mm-%dd %hh:%ii:%ss", 1637640306), "2021-11-23 04:05:06");
}

TEST(Clock, LocalClockReadsTheLocalFieldsAsUtc) {
    const test::ScopedEnvironment zone("TZ", "XXX-1");  // one hour east of UTC
    tzset();
    const std::int64_t local = LocalClockSeconds();
    const std::int64_t utc = static_cast<std::int64_t>(time(nullptr));
    EXPECT_NEAR(static_cast<double>(local - utc), 3600.0, 2.0);
}

}  // namespace
}  // namespace quarnel
