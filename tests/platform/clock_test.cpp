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

TEST(Clock, ConvertsBetweenUtcAndTheLocalClockWithTheZonesRules) {
    const test::ScopedEnvironment zone("TZ", "CET-1CEST,M3.5.0,M10.5.0/3");
    tzset();
    struct Case {
        std::int64_t utc;
        std::int64_t offset;
    };
    for (const Case& c : {Case{1700000000, 3600},     // 2023-11-14 22:13:20 UTC, winter
                          Case{1688169600, 7200}}) {  // 2023-07-01 00:00:00 UTC, summer
        EXPECT_EQ(LocalClockAt(c.utc), c.utc + c.offset);
        EXPECT_EQ(UtcOfLocalClock(c.utc + c.offset), c.utc);
    }
}

}  // namespace
}  // namespace quarnel
