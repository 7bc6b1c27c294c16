#include "ddns/update_result.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "ddns/provider_update.h"
#include "resources/texts.h"
#include "tests/fixtures/endpoint_overrides.h"
#include "tests/support/test_support.h"

namespace quarnel {
namespace {

TEST(SplitUpdateResultTest, CodeIsLowerCasedFirstFieldAndAddressTheSecond) {
    UpdateResult result = SplitUpdateResult("good 203.0.113.5", "198.51.100.1");
    EXPECT_EQ(result.code, "good");
    EXPECT_EQ(result.address, "203.0.113.5");

    result = SplitUpdateResult("GOOD 203.0.113.5", "198.51.100.1");
    EXPECT_EQ(result.code, "good");

    result = SplitUpdateResult("NoChg", "198.51.100.1");
    EXPECT_EQ(result.code, "nochg");
    EXPECT_EQ(result.address, "198.51.100.1") << "a missing address is the one that was sent";

    result = SplitUpdateResult("good  203.0.113.5", "198.51.100.1");
    EXPECT_EQ(result.address, "198.51.100.1") << "an empty second field counts as missing";

    result = SplitUpdateResult("", "198.51.100.1");
    EXPECT_EQ(result.code, "");
    EXPECT_EQ(result.address, "198.51.100.1");
}

TEST(SplitUpdateResultTest, OnlyTheFirstLineCountsAndOnlyAnAddressIsKept) {
    const struct {
        const char* answer;
        const char* code;
        const char* address;
        const char* address6 = "";  // of a dual answer
    } cases[] = {
        {"good 203.0.113.5,2001:db8::5", "good", "203.0.113.5", "2001:db8::5"},
        {"nochg 203.0.113.5,2001:db8::5\ngood 203.0.113.9", "nochg", "203.0.113.5", "2001:db8::5"},
        {"good 203.0.113.5,2001:DB8::5", "good", "198.51.100.1"},
        {"good 203.0.113.5,", "good", "198.51.100.1"},
        {"good 203.0.113.5,203.0.113.6", "good", "198.51.100.1"},
        {"good 2001:db8::5", "good", "198.51.100.1"},
        {"good 203.0.113.5\nnochg 203.0.113.5", "good", "203.0.113.5"},
        {"nochg 203.0.113.5\r\ngood 203.0.113.9", "nochg", "203.0.113.5"},
        {"good\n203.0.113.9", "good", "198.51.100.1"},
        {"good A", "good", "198.51.100.1"},
        {"good 203.0.113.5 extra", "good", "203.0.113.5"},
        {"good 203.0.113.05", "good", "198.51.100.1"},
    };
    for (const auto& c : cases) {
        const UpdateResult result = SplitUpdateResult(c.answer, "198.51.100.1");
        EXPECT_EQ(result.code, c.code) << c.answer;
        EXPECT_EQ(result.address, c.address) << c.answer;
        EXPECT_EQ(result.address6, c.address6) << c.answer;
        EXPECT_EQ(ResultAddresses(result),
                  *c.address6 ? std::string(c.address) + ", " + c.address6 : c.address);
    }
}

TEST(GetResultMessageTest, EveryKnownCodeHasItsMessageWithTheInsertion) {
    const bool english = CurrentLanguage() == Language::English;
    EXPECT_EQ(GetResultMessage("good", "203.0.113.5"),
              english ? "The update was successful, and the hostname is now updated. New IP: "
                        "203.0.113.5"
                      : "Die Aktualisierung war erfolgreich, und der Hostname wurde aktualisiert. "
                        "Neue IP: 203.0.113.5");
    EXPECT_EQ(GetResultMessage("!unknown", "garbage"),
              english ? "An unknown error occurred: garbage"
                      : "Ein unbekannter Fehler ist aufgetreten: garbage");
    const struct {
        const char* code;
        int id;
    } table[] = {{"nochg", 133},    {"good", 134},     {"dnserr", 135},  {"911", 136},
                 {"abuse", 137},    {"nohost", 138},   {"notfqdn", 139}, {"numhost", 140},
                 {"badauth", 141},  {"badagent", 142}, {"!yours", 143},  {"!donator", 144},
                 {"!unknown", 145}, {"!empty", 146},   {"!noauth", 154}, {"!noanswer", 165}};
    for (const auto& entry : table) {
        const std::string message = GetResultMessage(entry.code, "203.0.113.5");
        EXPECT_FALSE(message.empty()) << entry.code;
        EXPECT_EQ(message, GetLocalizedText(entry.id, "203.0.113.5")) << entry.code;
    }
}

TEST(GetResultMessageTest, UnknownOrUpperCaseCodesHaveNoMessage) {
    EXPECT_EQ(GetResultMessage("GOOD", "203.0.113.5"), "");
    EXPECT_EQ(GetResultMessage("good ", "203.0.113.5"), "");
    EXPECT_EQ(GetResultMessage("", ""), "");
    EXPECT_EQ(GetResultMessage("whatever", "x"), "");
}

TEST(TrimUpdateAnswerTest, LineFeedsThenCarriageReturnsGoAtBothEnds) {
    EXPECT_EQ(TrimUpdateAnswer("good 203.0.113.5\r\n"), "good 203.0.113.5");
    EXPECT_EQ(TrimUpdateAnswer("\n\ngood 203.0.113.5\n"), "good 203.0.113.5");
    EXPECT_EQ(TrimUpdateAnswer("good a\nnochg b\n"), "good a\nnochg b");
    // Line feeds first: a carriage return in front of a leading line feed protects it.
    EXPECT_EQ(TrimUpdateAnswer("\r\ngood\r\n"), "\ngood");
    EXPECT_EQ(TrimUpdateAnswer("\r\n\r\n"), "\n");
}

class BuildUpdateUrlTest : public ::testing::Test {
  protected:
    test::TemporaryFolder root_;
    test::ScopedEnvironment quarnelRoot_{"QUARNEL_ROOT", root_.Path()};
};

TEST_F(BuildUpdateUrlTest, EachProviderHasItsPublishedHost) {
    const char* hosts[] = {"members.dyndns.org", "updates.opendns.com", "updates.dnsomatic.com",
                           "update.spdyn.de",    "dyndns.strato.com",   "dynupdate.no-ip.com"};
    for (std::int64_t service = 0; service < 6; ++service) {
        EXPECT_EQ(BuildUpdateUrl(service, "home.example.org", "203.0.113.5"),
                  std::string("https://") + hosts[service] +
                      "/nic/update?hostname=home.example.org&myip=203.0.113.5");
    }
    EXPECT_EQ(BuildUpdateUrl(6, "home.example.org", "203.0.113.5"), "");
    EXPECT_EQ(BuildUpdateUrl(-1, "home.example.org", "203.0.113.5"), "");
}

TEST_F(BuildUpdateUrlTest, EmptyHostNameMeansAllHostsOnlyForDnsOMatic) {
    EXPECT_EQ(
        BuildUpdateUrl(kProviderDnsOMatic, "", "203.0.113.5"),
        "https://updates.dnsomatic.com/nic/update?hostname=all.dnsomatic.com&myip=203.0.113.5");
    EXPECT_EQ(BuildUpdateUrl(kProviderDynDns, "", "203.0.113.5"),
              "https://members.dyndns.org/nic/update?hostname=&myip=203.0.113.5");
}

TEST_F(BuildUpdateUrlTest, HostNamesKeepTheirListButCannotBreakTheQuery) {
    EXPECT_EQ(BuildUpdateUrl(kProviderNoIp, "a.example.org,b_c.example.org", "203.0.113.5"),
              "https://dynupdate.no-ip.com/nic/update?hostname=a.example.org,b_c.example.org"
              "&myip=203.0.113.5");
    EXPECT_EQ(
        BuildUpdateUrl(kProviderNoIp, "a&myip=1.1.1.1#x%y z.example", "203.0.113.5"),
        "https://dynupdate.no-ip.com/nic/update?hostname=a%26myip%3D1.1.1.1%23x%25y%20z.example"
        "&myip=203.0.113.5");
    EXPECT_EQ(BuildUpdateUrl(kProviderNoIp, "münchen.example", "203.0.113.5\n"),
              "https://dynupdate.no-ip.com/nic/update?hostname=m%C3%BCnchen.example"
              "&myip=203.0.113.5%0A");
}

TEST_F(BuildUpdateUrlTest, BothAddressesGoInOneMyipForTheProvidersThatTakeThem) {
    // The address keeps its colons as the providers document the form; a host name does not.
    EXPECT_EQ(BuildUpdateUrl(kProviderDynDns, "h:1.example", "203.0.113.5,2001:db8::5"),
              "https://members.dyndns.org/nic/update?hostname=h%3A1.example"
              "&myip=203.0.113.5,2001:db8::5");
    for (std::int64_t service = -1; service <= 6; ++service) {
        const bool takes = service == kProviderDynDns || service == kProviderSpDns ||
                           service == kProviderStrato || service == kProviderNoIp;
        EXPECT_EQ(ProviderTakesIPv6(service), takes) << service;
    }
}

TEST_F(BuildUpdateUrlTest, OverriddenHostsMayCarryAPort) {
    ASSERT_TRUE(test::SetEndpointOverride(Endpoint::StratoUpdate, "127.0.0.1:8443"));
    ASSERT_TRUE(test::SetEndpointOverride(Endpoint::DnsOMaticAllHosts, "every.test"));
    EXPECT_EQ(BuildUpdateUrl(kProviderStrato, "h.example", "203.0.113.5"),
              "https://127.0.0.1:8443/nic/update?hostname=h.example&myip=203.0.113.5");
    EXPECT_EQ(BuildUpdateUrl(kProviderDnsOMatic, "", "203.0.113.5"),
              "https://updates.dnsomatic.com/nic/update?hostname=every.test&myip=203.0.113.5");
}

}  // namespace
}  // namespace quarnel
