#include "platform/guid.h"

#include <gtest/gtest.h>

namespace quarnel {
namespace {

TEST(Guid, TextFormIsBracedUpperCaseAndReadsBack) {
    const Guid guid{0xB7D5E900, 0xAF40, 0x11DD, {0xAD, 0x8B, 0x08, 0x00, 0x20, 0x0C, 0x9A, 0x66}};
    EXPECT_EQ(GuidToString(guid), "{B7D5E900-AF40-11DD-AD8B-0800200C9A66}");

    Guid parsed;
    ASSERT_TRUE(GuidFromString("{b7d5e900-af40-11dd-ad8b-0800200c9a66}", parsed));
    EXPECT_EQ(parsed.data1, 0xB7D5E900u);
    EXPECT_EQ(parsed.data2, 0xAF40);
    EXPECT_EQ(parsed.data3, 0x11DD);
    EXPECT_EQ(GuidToString(parsed), GuidToString(guid));
    ASSERT_TRUE(GuidFromString("01234567-89AB-CDEF-0123-456789ABCDEF", parsed));  // no braces
    EXPECT_EQ(GuidToString(parsed), "{01234567-89AB-CDEF-0123-456789ABCDEF}");
    EXPECT_FALSE(GuidFromString("{B7D5E900-AF40-11DD-AD8B-0800200C9A66)", parsed));
    EXPECT_FALSE(GuidFromString("{B7D5E900-AF40-11DD-AD8B-0800200C9A6}", parsed));
    EXPECT_FALSE(GuidFromString("{B7D5E900XAF40-11DD-AD8B-0800200C9A66}", parsed));
    EXPECT_FALSE(GuidFromString("", parsed));
}

}  // namespace
}  // namespace quarnel
