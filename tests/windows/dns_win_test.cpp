// The resolver's packets on Windows and the transport's rules: what a server sends is never
// trusted, and credentials and secure exchanges never leak to where they do not belong.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "ddns/dns_answer.h"
#include "ddns/dns_packet_win.h"
#include "ddns/http_client.h"
#include "ddns/transfer_rules.h"

namespace quarnel {
namespace {

using Packet = std::vector<unsigned char>;

// The answer to a query for "a.test" (id 0x1234) with the given answer record after it.
Packet Response(const Packet& record) {
    Packet packet = {0x12, 0x34, 0x81, 0x80, 0,   1,   0,   1, 0, 0, 0, 0,
                     1,    'a',  4,    't',  'e', 's', 't', 0, 0, 1, 0, 1};
    packet.insert(packet.end(), record.begin(), record.end());
    return packet;
}

TEST(DnsWin, TheQueryAsksForTheARecordOfTheName) {
    EXPECT_EQ(BuildDnsQuery("a.test.", 0x1234),
              (Packet{0x12, 0x34, 0x01, 0x00, 0,   1,   0,   0, 0, 0, 0, 0,
                      1,    'a',  4,    't',  'e', 's', 't', 0, 0, 1, 0, 1}));
    EXPECT_TRUE(BuildDnsQuery("a..test", 1).empty());
    EXPECT_TRUE(BuildDnsQuery(std::string(64, 'x') + ".test", 1).empty());
}

TEST(DnsWin, OnlyAWholeFirstRecordInsideThePacketCounts) {
    const struct {
        const char* name;
        Packet record;
        DnsAnswer::Kind kind;
        const char* text;
    } cases[] = {
        {"address",
         {0xC0, 12, 0, 1, 0, 1, 0, 0, 0, 60, 0, 4, 203, 0, 113, 5},
         DnsAnswer::Kind::Address,
         "203.0.113.5"},
        {"alias",
         {0xC0, 12, 0, 5, 0, 1, 0, 0, 0, 60, 0, 4, 1, 'b', 0xC0, 14},
         DnsAnswer::Kind::Alias,
         "b.test"},
        {"alias pointing at itself",
         {0xC0, 12, 0, 5, 0, 1, 0, 0, 0, 60, 0, 2, 0xC0, 36},
         DnsAnswer::Kind::None,
         ""},
        {"owner name pointing forward",
         {0xC0, 36, 0, 1, 0, 1, 0, 0, 0, 60, 0, 4, 1, 'b', 0, 7},
         DnsAnswer::Kind::None,
         ""},
        {"data beyond the packet",
         {0xC0, 12, 0, 1, 0, 1, 0, 0, 0, 60, 0, 4, 203, 0},
         DnsAnswer::Kind::None,
         ""},
        {"another type", {0xC0, 12, 0, 16, 0, 1, 0, 0, 0, 60, 0, 1, 0}, DnsAnswer::Kind::None, ""},
        {"another owner",
         {1, 'x', 0, 0, 1, 0, 1, 0, 0, 0, 60, 0, 4, 203, 0, 113, 5},
         DnsAnswer::Kind::None,
         ""},
        {"another class",
         {0xC0, 12, 0, 1, 0, 3, 0, 0, 0, 60, 0, 4, 203, 0, 113, 5},
         DnsAnswer::Kind::None,
         ""},
    };
    for (const auto& c : cases) {
        const Packet packet = Response(c.record);
        const DnsAnswer answer = ReadFirstDnsAnswer(packet.data(), packet.size(), "A.test.");
        EXPECT_EQ(answer.kind, c.kind) << c.name;
        EXPECT_EQ(answer.text, c.text) << c.name;
    }
}

TEST(TransferRulesWin, SecureExchangesStaySecureAndPlainOnesFollowOnlyWhenAsked) {
    const struct {
        bool secure;
        std::uint32_t flags;
        const char* location;
        bool allowed;
    } cases[] = {
        {true, 0, "https://other.test/", true},
        {true, HttpFlagRedirect, "http://other.test/", false},
        {true, 0, "/relative", true},
        {false, 0, "http://other.test/", false},
        {false, HttpFlagRedirect, "https://other.test/", true},
        {false, HttpFlagRedirect, "ftp://other.test/", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(RedirectAllowed(c.secure, c.flags, RedirectScheme(c.location, c.secure)),
                  c.allowed)
            << c.location;
    }
}

TEST(TransferRulesWin, HeadersComeInTheirFixedOrderWithTheIdentityOnlyWhenAsked) {
    HttpTransferRequest request;
    request.body = "x";
    request.headers = "X-One: 1\r\n\r\ncontent-type: a/b\n";
    request.userIdent = "u";
    request.hardwareIdent = "h";
    const std::vector<std::string> plain = RequestHeaderLines(request);
    EXPECT_EQ(plain,
              (std::vector<std::string>{
                  "Accept: text/html,text/plain,*/*;q=0.5", "Accept-Charset: utf-8,*;q=0.5",
                  "Cache-Control: no-cache", "Pragma: no-cache",
                  "Content-Type: text/plain; charset=utf-8", "X-One: 1", "content-type: a/b"}));
    request.flags = HttpFlagIdentify;
    request.body.clear();
    const std::vector<std::string> identified = RequestHeaderLines(request);
    EXPECT_EQ(identified[4], "X-User-Ident: u");
    EXPECT_EQ(identified[5], "X-Hardware-Ident: h");
}

}  // namespace
}  // namespace quarnel
