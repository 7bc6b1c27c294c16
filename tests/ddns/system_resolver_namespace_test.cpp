// The system's resolvers as /etc/resolv.conf names them, inside a private network and mount
// namespace whose resolv.conf points at the test DNS responder on the namespace's own loopback.

#include <gtest/gtest.h>

#include "ddns/address_detection.h"
#include "ddns/dns_resolver.h"
#include "tests/fixtures/endpoint_overrides.h"
#include "tests/fixtures/provider_emulator.h"
#include "tests/libraries/adapter/network_test_support.h"

namespace quarnel {
namespace {

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

}  // namespace
}  // namespace quarnel
