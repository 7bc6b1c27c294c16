#include "ddns/ip_address.h"

#include <gtest/gtest.h>

#include <utility>

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

TEST(IpAddress, OnlyTheCanonicalIPv6FormIsValid) {
    for (const char* good :
         {"2001:db8::5", "::", "::1", "1::", "fe80::1", "2001:db8:0:1:1:1:1:1", "1:0:0:1::1",
          "2001:db8::1:0:0:1", "::ffff:192.0.2.1", "2001:db8:aaaa:bbbb:cccc:dddd:eeee:ffff"}) {
        EXPECT_TRUE(IsValidIPv6Address(good)) << good;
        EXPECT_FALSE(IsValidIPAddress(good)) << good << ": the IPv4 test stays IPv4-only";
    }
    for (const char* bad : {"2001:DB8::5",
                            "2001:0db8::5",
                            "2001:db8:0:0:1:0:0:1",
                            "2001:db8::0:1",
                            "2001:db8:0::1:1:1:1:1",
                            "::ffff:c000:201",
                            "::1.2.3.4",
                            "2001:db8::5\n",
                            " ::1",
                            "",
                            "fe80::1%eth0",
                            "1:::2",
                            "2001:db8::5::1",
                            "12345::",
                            "[::1]",
                            "1:2:3:4:5:6:7:8:9",
                            "1:2:3:4:5:6:7",
                            ":1::",
                            "::ffff:1.2.3.04",
                            "203.0.113.5",
                            "g::1"}) {
        EXPECT_FALSE(IsValidIPv6Address(bad)) << bad;
    }
    // Every form of RFC 4291 parses; only one is canonical.
    EXPECT_EQ(FormatIPv6Address(*ParseIPv6Address("2001:0DB8:0:0:0:0:0:0005")), "2001:db8::5");
    EXPECT_EQ(FormatIPv6Address(*ParseIPv6Address("::FFFF:192.0.2.1")), "::ffff:192.0.2.1");
}

TEST(IpAddress, OnlyGlobalUnicastIPv6AddressesArePublishable) {
    for (const auto& [text, global] : {std::pair{"2001:db8::1", true},
                                       {"2600::1", true},
                                       {"3fff:ffff::1", true},
                                       {"fc00::1", false},
                                       {"fd12:3456::1", false},
                                       {"fe80::1", false},
                                       {"::1", false},
                                       {"::", false},
                                       {"ff02::1", false},
                                       {"::ffff:203.0.113.5", false},
                                       {"4000::1", false}}) {
        EXPECT_EQ(IsGlobalUnicastIPv6(*ParseIPv6Address(text)), global) << text;
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
