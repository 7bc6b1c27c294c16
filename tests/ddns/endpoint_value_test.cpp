// The texts an endpoint override accepts, and storing and removing one.

#include "ddns/endpoint_value.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "settings/registry.h"
#include "tests/support/test_support.h"

namespace quarnel {
namespace {

TEST(EndpointValueTest, EachFormAcceptsItsTextsAndNamesWhatIsWrong) {
    struct Case {
        Endpoint endpoint;
        std::string value;
        std::string problem;  // empty: accepted
    };
    const std::vector<Case> cases = {
        {Endpoint::DynDnsUpdate, "dyn.example.net", ""},
        {Endpoint::DynDnsUpdate, "dyn.example.net:8443", ""},
        {Endpoint::NoIpUpdate, "127.0.0.1:65535", ""},
        {Endpoint::IpEcho, "", ""},  // no override
        {Endpoint::IpEcho6, "[::1]:8443", ""},
        {Endpoint::IpEcho6, "[2001:db8::1]", ""},
        {Endpoint::IpEcho6, "[2001:DB8::1]", "no IPv6 address in the form [2001:db8::1]"},
        {Endpoint::IpEcho6, "[::1", "no IPv6 address in the form"},
        {Endpoint::IpEcho6, "[::1]x", "no IPv6 address in the form"},
        {Endpoint::IpEcho6, "[::1]:0", "port that is not a number"},
        {Endpoint::IpEcho6, "2001:db8::1", "other than letters, digits"},
        {Endpoint::DynDnsUpdate, "dyn.example.net:0", "port that is not a number from 1 to 65535"},
        {Endpoint::DynDnsUpdate, "dyn.example.net:70000", "port that is not a number"},
        {Endpoint::DynDnsUpdate, "dyn.example.net:", "port that is not a number"},
        {Endpoint::DynDnsUpdate, ":8443", "has no host"},
        {Endpoint::DynDnsUpdate, "https://dyn.example.net", "port that is not a number"},
        {Endpoint::DynDnsUpdate, "dyn.example.net/nic", "other than letters, digits"},
        {Endpoint::IpEcho, "my echo.example", "other than letters, digits"},
        {Endpoint::IpEcho, "a..example", "empty or over-long part"},
        {Endpoint::IpEcho, "-a.example", "starts or ends with a hyphen"},
        {Endpoint::IpEcho, "300.1.1.1", "neither a host name nor an IPv4 address"},
        {Endpoint::IpEchoHttp, "echo\x1b[2J.example", "\"echo\\x1b[2J.example\""},
        {Endpoint::ProbeHost, "probe.example.org", ""},
        {Endpoint::ProbeHost, "probe.example.org:53", "other than letters, digits"},
        {Endpoint::OpenDnsMyIp, "192.0.2.1", "is an address, not a host name"},
        {Endpoint::Resolvers, "192.0.2.53", ""},
        {Endpoint::Resolvers, "127.0.0.1:5353,192.0.2.53", ""},
        {Endpoint::OpenDnsResolvers, "dns.example.net", "not an IPv4 address"},
        {Endpoint::OpenDnsResolvers, "192.0.2.53,", "not an IPv4 address"},
        {Endpoint::Resolvers, "192.0.2.53:99999", "port that is not a number"},
        {Endpoint::Resolvers, "192.0.2.1,192.0.2.2,192.0.2.3,192.0.2.4", "more than three"},
    };
    for (const Case& c : cases) {
        std::string error;
        const bool accepted = CheckEndpointValue(c.endpoint, c.value, error);
        EXPECT_EQ(accepted, c.problem.empty()) << c.value << ": " << error;
        if (!c.problem.empty()) {
            EXPECT_NE(error.find(c.problem), std::string::npos) << c.value << ": " << error;
            EXPECT_NE(error.find(EndpointValueName(c.endpoint)), std::string::npos) << error;
        }
    }
}

TEST(EndpointValueTest, NamesAreFoundRegardlessOfCase) {
    EXPECT_EQ(FindEndpoint("ipecho"), Endpoint::IpEcho);
    EXPECT_EQ(FindEndpoint("NOIP"), Endpoint::NoIpUpdate);
    EXPECT_EQ(FindEndpoint("Resolvers"), Endpoint::Resolvers);
    EXPECT_EQ(FindEndpoint("ipecho6"), Endpoint::IpEcho6);
    EXPECT_FALSE(FindEndpoint("Hostname").has_value());
    EXPECT_EQ(AllEndpoints().size(), 16u);
}

TEST(EndpointValueTest, AnOverrideIsStoredCheckedAndRemovedAgain) {
    const test::TemporaryFolder root;
    const test::ScopedEnvironment rootVariable("QUARNEL_ROOT", root.Path());
    std::string error;
    ASSERT_TRUE(StoreEndpointOverride(Endpoint::SpDnsUpdate, "127.0.0.1:8443", error)) << error;
    EXPECT_EQ(ReadEndpointOverride(Endpoint::SpDnsUpdate), "127.0.0.1:8443");
    EXPECT_EQ(GetEndpoint(Endpoint::SpDnsUpdate), "127.0.0.1:8443");

    // A refused value leaves the override as it was.
    EXPECT_FALSE(StoreEndpointOverride(Endpoint::SpDnsUpdate, "bad host", error));
    EXPECT_EQ(ReadEndpointOverride(Endpoint::SpDnsUpdate), "127.0.0.1:8443");

    ASSERT_TRUE(StoreEndpointOverride(Endpoint::SpDnsUpdate, "", error)) << error;
    EXPECT_EQ(ReadEndpointOverride(Endpoint::SpDnsUpdate), "");
    EXPECT_EQ(GetEndpoint(Endpoint::SpDnsUpdate), EndpointDefault(Endpoint::SpDnsUpdate));
    // Removing what is not there succeeds too.
    EXPECT_TRUE(StoreEndpointOverride(Endpoint::SpDnsUpdate, "", error)) << error;
}

}  // namespace
}  // namespace quarnel
