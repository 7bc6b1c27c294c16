#include "ddns/address_detection.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <iostream>
#include <string>
#include <thread>

#include "ddns/dns_resolver.h"
#include "ddns/endpoints.h"
#include "ddns/ip_address.h"
#include "platform/exchange_stop.h"
#include "platform/unique_fd.h"
#include "settings/registry.h"
#include "tests/ddns/emulator_test_base.h"
#include "tests/fixtures/endpoint_overrides.h"
#include "tests/libraries/adapter/network_test_support.h"

namespace quarnel {
namespace {

using test::EmulatorTest;
using test::ProviderEmulator;
using test::SetEndpointOverride;

TEST(ParseServerListTest, GivesOneEntryPerFieldWithOptionalPorts) {
    EXPECT_FALSE(ParseServerList("").has_value());

    const auto list = ParseServerList("208.67.222.222,,127.0.0.1:5353,300.2.3.4");
    ASSERT_TRUE(list.has_value());
    ASSERT_EQ(list->size(), 4u);
    EXPECT_EQ((*list)[0].packed, ParseIPAddress("208.67.222.222"));
    EXPECT_EQ((*list)[0].port, 53);
    EXPECT_EQ((*list)[1].packed, 0u);
    EXPECT_EQ((*list)[2].packed, ParseIPAddress("127.0.0.1"));
    EXPECT_EQ((*list)[2].port, 5353);
    EXPECT_EQ((*list)[3].packed, ParseIPAddress("44.3.3.4"));

    for (const char* bad : {"127.0.0.1:0", "127.0.0.1:65536", "127.0.0.1:53x", "127.0.0.1:"}) {
        const auto entry = ParseServerList(bad);
        ASSERT_TRUE(entry.has_value());
        EXPECT_EQ(entry->at(0).packed, 0u) << bad << " names no resolver";
    }
}

TEST(EndpointsTest, DefaultsAndOverridesValueByValue) {
    test::TemporaryFolder root;
    test::ScopedEnvironment quarnelRoot("QUARNEL_ROOT", root.Path());
    EXPECT_EQ(GetEndpoint(Endpoint::DynDnsUpdate), "members.dyndns.org");
    EXPECT_EQ(GetEndpoint(Endpoint::DnsOMaticAllHosts), "all.dnsomatic.com");
    EXPECT_EQ(GetEndpoint(Endpoint::Resolvers), "");
    EXPECT_EQ(GetEndpoint(Endpoint::IpEchoHttp), "myip.dnsomatic.com");
    // The maker's hosts stay under the reserved example domain until set for a distribution.
    EXPECT_EQ(GetEndpoint(Endpoint::Website), "quarnel-updater.example");
    EXPECT_TRUE(GetEndpoint(Endpoint::IssueTracker).ends_with(".example"));

    // A value written by other means may carry blanks; they are not part of the host.
    ASSERT_EQ(CreateRegistryKey(RegistryHive::LocalMachine, kEndpointsKey), 1);
    ASSERT_EQ(WriteRegistryString(RegistryHive::LocalMachine, kEndpointsKey, "IPEcho",
                                  "  127.0.0.1:8443 "),
              1);
    EXPECT_EQ(GetEndpoint(Endpoint::IpEcho), "127.0.0.1:8443");
    EXPECT_EQ(GetEndpoint(Endpoint::IpEchoHttp), "127.0.0.1:8443");
    ASSERT_TRUE(SetEndpointOverride(Endpoint::IpEchoHttp, "127.0.0.1:8080"));
    EXPECT_EQ(GetEndpoint(Endpoint::IpEchoHttp), "127.0.0.1:8080");
    EXPECT_EQ(GetEndpoint(Endpoint::NoIpUpdate), "dynupdate.no-ip.com");
}

class ResolverTest : public EmulatorTest {
  protected:
    std::string Responder() const { return "127.0.0.1:" + std::to_string(emulator_.DnsPort()); }
    int QueriesFor(const std::string& name) const {
        int count = 0;
        for (const auto& record : Records()) {
            count += record.server == "dns" && record.name == name ? 1 : 0;
        }
        return count;
    }
};

TEST_F(ResolverTest, OnlyTheFirstAnswerRecordCounts) {
    Admin("/admin/dns?name=plain.test&answer=A:203.0.113.7,A:203.0.113.8");
    Admin("/admin/dns?name=six.test&answer=AAAA:2001:db8::1,A:203.0.113.9");
    Admin("/admin/dns?name=empty.test&answer=");
    Admin("/admin/dns?name=broken.test&rcode=SERVFAIL");
    EXPECT_EQ(ResolveHostName("plain.test", Responder()), "203.0.113.7");
    EXPECT_EQ(ResolveHostName("PLAIN.test.", Responder()), "203.0.113.7");
    EXPECT_EQ(ResolveHostName("six.test", Responder()), "") << "an A record after AAAA is ignored";
    EXPECT_EQ(ResolveHostName("empty.test", Responder()), "");
    EXPECT_EQ(ResolveHostName("broken.test", Responder()), "");
    EXPECT_EQ(ResolveHostName("unknown.test", Responder()), "");
    EXPECT_EQ(ResolveHostName("", Responder()), "");
    EXPECT_EQ(QueriesFor("plain.test"), 1);
}

// A forger who knows the query's id and port still cannot answer it: only an answer from the
// server asked, to the question asked, with an IN record of the name asked counts.
TEST_F(ResolverTest, OnlyTheServersAnswerToTheQuestionAskedCounts) {
    const struct {
        const char* forge;
        const char* expected;
    } cases[] = {
        {"port", "203.0.113.7"},      // the forgery is ignored, the true answer follows
        {"question", "203.0.113.7"},  // likewise
        {"class", ""},                // the only answer holds no usable record
        {"owner", ""},
    };
    for (const auto& c : cases) {
        Admin(std::string("/admin/dns?name=plain.test&answer=A:203.0.113.7&forge=") + c.forge);
        EXPECT_EQ(ResolveHostName("plain.test", Responder()), c.expected) << c.forge;
    }
}

// An answer too large for a datagram is asked again over TCP.
TEST_F(ResolverTest, AnAnswerCutShortIsAskedAgainOverTcp) {
    Admin("/admin/dns?name=large.test&answer=A:203.0.113.8&truncate=1");
    EXPECT_EQ(ResolveHostName("large.test", Responder()), "203.0.113.8");
}

TEST_F(ResolverTest, EntriesThatNameNoResolverAreNeverAsked) {
    Admin("/admin/dns?name=plain.test&answer=A:203.0.113.7");
    ASSERT_TRUE(SetEndpointOverride(Endpoint::Resolvers, Responder()));
    EXPECT_EQ(ResolveHostName("plain.test", ",0.0.0.0,127.0.0.1:0"), "");
    EXPECT_EQ(QueriesFor("plain.test"), 0) << "no fall-back to the system's resolvers";
    EXPECT_EQ(ResolveHostName("plain.test", ",0.0.0.0," + Responder()), "203.0.113.7");
}

TEST_F(ResolverTest, AnAliasIsResolvedAtTheSystemResolversNotTheGivenOnes) {
    ProviderEmulator system;
    ProviderEmulator::Options options;
    options.httpPort = -1;
    options.httpsPort = -1;
    options.commands = {"/admin/dns?name=target.test&answer=A:198.51.100.20"};
    ASSERT_TRUE(system.Start(options));
    ASSERT_TRUE(
        SetEndpointOverride(Endpoint::Resolvers, "127.0.0.1:" + std::to_string(system.DnsPort())));

    Admin("/admin/dns?name=alias.test&answer=CNAME:target.test,A:203.0.113.99");
    Admin("/admin/dns?name=target.test&answer=A:203.0.113.99");
    EXPECT_EQ(ResolveHostName("alias.test", Responder()), "198.51.100.20");
    EXPECT_EQ(QueriesFor("target.test"), 0);
}

TEST_F(ResolverTest, AnAliasLoopEndsAfterABoundedNumberOfSteps) {
    ASSERT_TRUE(SetEndpointOverride(Endpoint::Resolvers, Responder()));
    Admin("/admin/dns?name=ping.test&answer=CNAME:pong.test");
    Admin("/admin/dns?name=pong.test&answer=CNAME:ping.test");
    EXPECT_EQ(ResolveHostName("ping.test", ""), "");
    EXPECT_EQ(QueriesFor("ping.test") + QueriesFor("pong.test"), 9);
}

TEST_F(ResolverTest, PublicAddressSourcesUseTheirEndpoints) {
    ASSERT_TRUE(test::PointEndpointsAtEmulator(emulator_));
    ASSERT_TRUE(SetEndpointOverride(Endpoint::OpenDnsMyIp, "myip.test"));
    ASSERT_TRUE(SetEndpointOverride(Endpoint::ProbeHost, "probe.test"));
    Admin("/admin/dns?name=myip.test&answer=A:203.0.113.50");
    Admin("/admin/echo?text=203.0.113.51%0A");

    EXPECT_EQ(GetIPAddressDNS(), "203.0.113.50");
    EXPECT_EQ(GetIPAddressHTTP(), "203.0.113.51\n") << "the page's text comes back unchanged";
    EXPECT_EQ(Records().back().server, "http");
    EXPECT_EQ(GetIPAddressHTTPS(), "203.0.113.51\n");
    EXPECT_EQ(Records().back().server, "https");
    EXPECT_FALSE(IsValidIPAddress(GetIPAddressHTTPS()));

    EXPECT_FALSE(TestConnectivity());
    Admin("/admin/dns?name=probe.test&answer=A:203.0.113.52");
    EXPECT_TRUE(TestConnectivity());
}

// The echo's certificate is checked as the provider's is: a certificate of the trusted CA for
// another name must not let its holder choose the published address.
TEST_F(ResolverTest, HttpsEchoNeedsACertificateForItsHost) {
    Admin("/admin/echo?text=203.0.113.60");
    struct Echo {
        int port;
        const char* answer;
        const char* warning;  // the reason of the WARN line, empty for none
    };
    for (const Echo& echo :
         {Echo{emulator_.HttpsPort(), "203.0.113.60", ""},
          Echo{emulator_.HttpsOtherNamePort(), "", "its certificate does not name the host"},
          Echo{emulator_.HttpsExpiredPort(), "", "its certificate does not verify"}}) {
        const std::string host = "127.0.0.1:" + std::to_string(echo.port);
        ASSERT_TRUE(SetEndpointOverride(Endpoint::IpEcho, host));
        test::EnableTraceLog();
        EXPECT_EQ(GetIPAddressHTTPS(), echo.answer) << host;
        const std::string line = "] No address from the IP echo " + host + ": " + echo.warning;
        EXPECT_EQ(test::TraceLogText().find(line) != std::string::npos, *echo.warning != '\0')
            << test::TraceLogText();
    }
}

// The IPv6 echo is reached over IPv6 only, its certificate must name its host, and only one
// canonical global IPv6 address counts as its answer.
TEST_F(ResolverTest, IPv6EchoAnswersOnlyAGlobalAddressOverIPv6) {
    if (emulator_.Https6Port() == 0) {
        GTEST_SKIP() << "no ::1 here";
    }
    const std::string ipv6 = "[::1]:" + std::to_string(emulator_.Https6Port());
    // Over IPv4 the same page would answer this.
    Admin("/admin/echo?text=2001:db8::78");
    const struct {
        std::string host;
        const char* echo6;  // the IPv6 listener's echo text, as a query value; nullptr: the
                            // caller's address
        const char* answer;
        const char* warning = "";
    } cases[] = {
        {ipv6, "2001:db8::77", "2001:db8::77"},
        {ipv6, "2001:DB8::77", ""},
        {ipv6, "2001:db8::77%0A", ""},
        {ipv6, "fd00::77", ""},
        {ipv6, "203.0.113.77", ""},
        {ipv6, nullptr, ""},  // ::1
        {"127.0.0.1:" + std::to_string(emulator_.HttpsPort()), "2001:db8::77", ""},
        // An IPv4-mapped address reaches the IPv4 listener over an IPv6 socket.
        {"[::ffff:127.0.0.1]:" + std::to_string(emulator_.HttpsOtherNamePort()), "2001:db8::77", "",
         "its certificate does not name the host"},
    };
    for (const auto& c : cases) {
        Admin(c.echo6 ? std::string("/admin/echo6?text=") + c.echo6
                      : std::string("/admin/echo6?reset=1"));
        ASSERT_TRUE(SetEndpointOverride(Endpoint::IpEcho6, c.host));
        test::EnableTraceLog();
        EXPECT_EQ(GetIPAddressHTTPS6(), c.answer) << c.host << " " << (c.echo6 ? c.echo6 : "");
        const std::string line = "] No address from the IPv6 echo " + c.host + ": " + c.warning;
        EXPECT_EQ(test::TraceLogText().find(line) != std::string::npos, *c.warning != '\0')
            << test::TraceLogText();
    }
    // Nothing reached the IPv4 listener: the IPv6 echo is never asked over IPv4.
    for (const auto& record : Records()) {
        EXPECT_NE(record.server, "https") << record.target;
    }
}

TEST(SilentResolverTest, AQueryEndsWhenNetworkExchangesStop) {
    // A resolver that never answers: a bound loopback socket nobody reads.
    const UniqueFd silent(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(silent.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::getsockname(silent.Get(), reinterpret_cast<sockaddr*>(&address), &length), 0);
    const std::string resolver = "127.0.0.1:" + std::to_string(ntohs(address.sin_port));

    std::thread stopper([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        StopNetworkExchanges();
    });
    const auto start = std::chrono::steady_clock::now();
    const std::string answer = ResolveHostName("probe.test", resolver);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    stopper.join();
    EXPECT_EQ(answer, "");
    // The resolver's own time-out is 5 s or more per try.
    EXPECT_LT(seconds, 4.0);
    std::cout << "query to a silent resolver ended " << seconds - 0.3 << " s after the stop"
              << std::endl;
    EXPECT_EQ(ResolveHostName("probe.test", resolver), "") << "no query once stopped";
    AllowNetworkExchanges();
}

}  // namespace
}  // namespace quarnel
