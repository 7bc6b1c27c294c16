// The system's resolvers as /etc/resolv.conf names them, inside a private network and mount
// namespace whose resolv.conf points at the test DNS responder on the namespace's own loopback.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>

#include "ddns/address_detection.h"
#include "ddns/dns_resolver.h"
#include "platform/exchange_stop.h"
#include "platform/unique_fd.h"
#include "tests/fixtures/endpoint_overrides.h"
#include "tests/fixtures/provider_emulator.h"
#include "tests/libraries/adapter/network_test_support.h"

namespace quarnel {
namespace {

constexpr const char* kResolvConf = "/etc/resolv.conf";

TEST(SystemResolverNamespaceTest, AliasTargetIsResolvedAtTheResolversOfResolvConf) {
    QUARNEL_ENTER_PRIVATE_NETWORK(test::UniqueName("qr"), "");
    test::TemporaryFolder root;
    test::ScopedEnvironment quarnelRoot("QUARNEL_ROOT", root.Path());
    test::ProviderEmulator responder;
    test::ProviderEmulator::Options options;
    options.dnsPort = 53;
    options.httpPort = -1;
    options.httpsPort = -1;
    options.commands = {"/admin/dns?name=alias.test&answer=CNAME:target.test",
                        "/admin/dns?name=target.test&answer=A:203.0.113.77",
                        "/admin/dns?name=probe.test&answer=A:203.0.113.78"};
    ASSERT_TRUE(responder.Start(options));

    EXPECT_EQ(ResolveHostName("alias.test", ""), "203.0.113.77");
    // Given resolvers for the first step; the alias target again from resolv.conf.
    EXPECT_EQ(ResolveHostName("alias.test", "127.0.0.1:53"), "203.0.113.77");
    EXPECT_EQ(ResolveHostName("target.test", ""), "203.0.113.77");
    ASSERT_TRUE(test::SetEndpointOverride(Endpoint::ProbeHost, "probe.test"));
    EXPECT_TRUE(TestConnectivity());
}

// The namespace's resolv.conf (a file bound over the real one in this mount namespace only).
void WriteResolvConf(const std::string& text) {
    std::ofstream(kResolvConf, std::ios::trunc) << text;
}

// An IPv6 resolver, and an answer too large for a datagram: asked again over TCP, on IPv6.
TEST(SystemResolverNamespaceTest, AnIPv6ResolverIsAskedOverUdpAndTcp) {
    QUARNEL_ENTER_PRIVATE_NETWORK(test::UniqueName("qr"), "");
    test::TemporaryFolder root;
    test::ScopedEnvironment quarnelRoot("QUARNEL_ROOT", root.Path());
    test::ProviderEmulator responder;
    test::ProviderEmulator::Options options;
    options.dnsPort = 53;
    options.httpPort = -1;
    options.httpsPort = -1;
    options.commands = {"/admin/dns?name=small.test&answer=A:203.0.113.80",
                        "/admin/dns?name=large.test&answer=A:203.0.113.81&truncate=1"};
    ASSERT_TRUE(responder.Start(options));
    if (responder.Dns6Port() != 53) {
        GTEST_SKIP() << "no IPv6 loopback address in the namespace";
    }
    WriteResolvConf("nameserver ::1\n");
    EXPECT_EQ(ResolveHostName("small.test", ""), "203.0.113.80");
    EXPECT_EQ(ResolveHostName("large.test", ""), "203.0.113.81");
}

// The stop ends a query at an IPv6 resolver that never answers at once, whatever time-out and
// tries resolv.conf sets.
TEST(SystemResolverNamespaceTest, AStopEndsAQueryAtASilentIPv6Resolver) {
    QUARNEL_ENTER_PRIVATE_NETWORK(test::UniqueName("qr"), "");
    test::TemporaryFolder root;
    test::ScopedEnvironment quarnelRoot("QUARNEL_ROOT", root.Path());
    const UniqueFd silent(::socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_port = htons(53);
    address.sin6_addr = in6addr_loopback;
    if (::bind(silent.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        GTEST_SKIP() << "no IPv6 loopback address in the namespace";
    }
    WriteResolvConf("nameserver ::1\noptions timeout:30 attempts:5\n");
    std::thread stopper([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        StopNetworkExchanges();
    });
    const auto start = std::chrono::steady_clock::now();
    const std::string answer = ResolveHostName("probe.test", "");
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    stopper.join();
    AllowNetworkExchanges();
    EXPECT_EQ(answer, "");
    // Without the stop the query would wait 150 s.
    EXPECT_LT(seconds, 10.0);
    std::cout << "query to a silent IPv6 resolver (timeout:30 attempts:5) ended "
              << (seconds - 0.3) * 1000 << " ms after the stop" << std::endl;
}

}  // namespace
}  // namespace quarnel
