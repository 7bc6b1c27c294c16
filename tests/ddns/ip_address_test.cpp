#include "ddns/ip_address.h"

#include <gtest/gtest.h>

namespace quarnel {
namespace {

TEST(IpAddress, OnlyTheCanonicalDottedFormIsValid) {
    for (const char* good : {"192.168.1.1", "0.0.0.0", "255.255.255.255", "203.0.113.5"}) {
        EXPECT_TRUE(IsValidIPAddress(good)) << good;
    }
    for (const char* bad :
         {"010.1.1.1", "256.1.1.1", "-1.1.1.1", "1.2.3.4\n", " 1.2.3.4", "1.2.3.4 ", "1.2.3",
          "1.2.3.4.5", "", "+1.2.3.4", "1..2.3", "$1.2.3.4", "1.2.3.4x", "300.2.3.4"}) {
        EXPECT_FALSE(IsValidIPAddress(bad)) << bad;
    }
}

TEST(IpAddress, FieldsAbove255CarryIntoTheNextByte) {
    EXPECT_EQ(ParseIPAddress("300.2.3.4"), 0x0403032Cu);
    EXPECT_EQ(ParseIPAddress("1.2.3.300"), 0x2C030201u);  // the top carry is lost
    EXPECT_EQ(ParseIPAddress("1.2"), 0u);
    EXPECT_EQ(ParseIPAddress("1.2.3"), 0u);
    EXPECT_EQ(ParseIPAddress("1.2.3.4.5"), 0u);
    EXPECT_EQ(ParseIPAddress(""), 0u);
    EXPECT_EQ(ParseIPAddress("$C0.%10101000.1.1"), 0x0101A8C0u);
}

TEST(IpAddress, PackedFormHasTheFirstNumberInTheLowestByte) {
    EXPECT_EQ(ParseIPAddress("1.2.3.4"), 0x04030201u);
    EXPECT_EQ(FormatIPAddress(0x04030201u), "1.2.3.4");
    EXPECT_EQ(FormatIPAddress(0), "0.0.0.0");
}

}  // namespace
}  // namespace quarnel
