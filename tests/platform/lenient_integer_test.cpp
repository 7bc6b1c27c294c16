#include "platform/lenient_integer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace quarnel {
namespace {

TEST(LenientInteger, ReadsDecimalHexadecimalAndBinaryWithSignsAndLeadingBlanks) {
    EXPECT_EQ(ParseLenientInteger("42"), 42);
    EXPECT_EQ(ParseLenientInteger(" \t 42"), 42);
    EXPECT_EQ(ParseLenientInteger("-3"), -3);
    EXPECT_EQ(ParseLenientInteger("+7"), 7);
    EXPECT_EQ(ParseLenientInteger("$1F"), 31);
    EXPECT_EQ(ParseLenientInteger("$ff"), 255);
    EXPECT_EQ(ParseLenientInteger("-$10"), -16);
    EXPECT_EQ(ParseLenientInteger("%101"), 5);
    EXPECT_EQ(ParseLenientInteger("%102"), 2);  // stops at the digit that is not binary
}

TEST(LenientInteger, StopsAtTheFirstCharacterThatDoesNotFitAndGivesZeroWithoutDigits) {
    EXPECT_EQ(ParseLenientInteger("12abc"), 12);
    EXPECT_EQ(ParseLenientInteger("1.5"), 1);
    EXPECT_EQ(ParseLenientInteger(""), 0);
    EXPECT_EQ(ParseLenientInteger("abc"), 0);
    EXPECT_EQ(ParseLenientInteger("-"), 0);
    EXPECT_EQ(ParseLenientInteger("$"), 0);
    EXPECT_EQ(ParseLenientInteger("$g1"), 0);
    EXPECT_EQ(ParseLenientInteger(" 5 6"), 5);
    EXPECT_EQ(ParseLenientInteger("\n5"), 0);  // only blanks and tabs are skipped
    EXPECT_EQ(ParseLenientInteger("--5"), 0);
}

TEST(LenientInteger, HugeNumbersWrapInsteadOfOverflowing) {
    EXPECT_EQ(ParseLenientInteger("18446744073709551617"), 1);  // 2^64 + 1
    EXPECT_EQ(ParseLenientInteger("9223372036854775808"), INT64_MIN);
    // A very long run of digits must neither crash nor hang.
    EXPECT_NO_FATAL_FAILURE(ParseLenientInteger(std::string(100000, '9')));
}

TEST(LenientInteger, StartUpReadingTakesTheAbsoluteValueAndTheLow32Bits) {
    EXPECT_EQ(LenientAbsoluteLow32("-3"), 3);
    EXPECT_EQ(LenientAbsoluteLow32("-514"), 514);
    EXPECT_EQ(LenientAbsoluteLow32("4294967297"), 1);
    EXPECT_EQ(LenientAbsoluteLow32("2147483648"), INT32_MIN);
    EXPECT_EQ(LenientAbsoluteLow32("-9223372036854775808"), 0);
    EXPECT_EQ(LenientAbsoluteLow32("$5"), 5);
}

}  // namespace
}  // namespace quarnel
