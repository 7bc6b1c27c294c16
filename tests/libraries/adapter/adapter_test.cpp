#include "libraries/src/adapter/adapter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "ddns/address_detection.h"
#include "ddns/ip_address.h"
#include "libraries/src/adapter/wlan_identifier.h"
#include "platform/global_handles.h"
#include "platform/network_capabilities.h"
#include "platform/network_info.h"
#include "tests/libraries/adapter/network_test_support.h"

namespace quarnel {
namespace {

using test::RunIp;
using test::UniqueName;

class AdapterTest : public ::testing::Test {
  protected:
    AdapterTest()
        : rootEnvironment_("QUARNEL_ROOT", root_.Path()),
          stateEnvironment_("XDG_STATE_HOME", "/state") {
        test::EnableTraceLog();
    }

    const std::string host_ = UniqueName("qh");
    const std::string wired_ = UniqueName("qa");
    const std::string wiredPeer_ = UniqueName("qb");
    const std::string second_ = UniqueName("qc");
    const std::string secondPeer_ = UniqueName("qd");
    test::TemporaryFolder root_;
    test::ScopedEnvironment rootEnvironment_;
    test::ScopedEnvironment stateEnvironment_;
};

TEST_F(AdapterTest, DefaultRouteNamesThePrimaryAddressItsAdapterAndGateway) {
    QUARNEL_ENTER_PRIVATE_NETWORK(host_, "127.0.1.1 " + host_ + "\n");
    ASSERT_TRUE(test::AddVethPair(wired_, wiredPeer_, "198.51.100.10/24"));
    ASSERT_TRUE(RunIp({"route", "add", "default", "via", "198.51.100.1", "dev", wired_}));

    EXPECT_EQ(FormatIPAddress(GetPrimaryIPAddress(1)), "198.51.100.10");
    EXPECT_EQ(GetAdapterGUID(), wired_);
    EXPECT_EQ(GetGatewayIPAddress(), "198.51.100.1");

    const auto info = GetAdapterInfo("");
    ASSERT_TRUE(info);
    EXPECT_EQ(info->adapterName, wired_);
    EXPECT_EQ(info->ipAddress, "198.51.100.10");
    EXPECT_EQ(info->gatewayAddress, "198.51.100.1");

    const auto byName = GetAdapterInfo(wired_);
    ASSERT_TRUE(byName);
    EXPECT_EQ(byName->gatewayAddress, "198.51.100.1");
    // The peer end has no address and no route.
    const auto peer = GetAdapterInfo(wiredPeer_);
    ASSERT_TRUE(peer);
    EXPECT_EQ(peer->ipAddress, "");
    EXPECT_EQ(peer->gatewayAddress, "");
    // Names match exactly, letter case included.
    EXPECT_FALSE(GetAdapterInfo("QA" + wired_.substr(2)));
    EXPECT_FALSE(GetAdapterInfo("lo"));

    const std::string log = test::TraceLogText();
    for (const auto& [procedure, message] : std::vector<std::pair<std::string, std::string>>{
             {"GetAdapterInfo", "GUID = "},
             {"GetAdapterInfo", "IPAddress = 198.51.100.10"},
             {"GetAdapterInfo", "Found adapter with IPAddress = 198.51.100.10"},
             {"GetAdapterInfo", "GUID = " + wired_},
             {"GetAdapterInfo", "Found adapter with GUID = " + wired_},
             {"GetAdapterGUID", "GetAdapterGUID = " + wired_},
             {"GetGatewayIPAddress", "GetGatewayIPAddress = 198.51.100.1"}}) {
        EXPECT_GE(test::CountLogEntries(log, procedure, message), 1)
            << procedure << ": " << message;
    }
}

TEST_F(AdapterTest, WithoutDefaultRouteAndOnlyLoopbackNamesEverythingIsEmpty) {
    QUARNEL_ENTER_PRIVATE_NETWORK(host_, "127.0.1.1 " + host_ + "\n");
    ASSERT_TRUE(test::AddVethPair(wired_, wiredPeer_, "198.51.100.10/24"));

    EXPECT_EQ(GetPrimaryIPAddress(1), 0u);
    EXPECT_FALSE(GetAdapterInfo(""));
    EXPECT_EQ(GetAdapterGUID(), "");
    EXPECT_EQ(GetGatewayIPAddress(), "");
    // The search compared against 0.0.0.0; an adapter without address does not match it.
    EXPECT_GE(test::CountLogEntries(test::TraceLogText(), "GetAdapterInfo", "IPAddress = 0.0.0.0"),
              1);
}

TEST_F(AdapterTest, HostNameResolutionIsTheFallBackAndSkipsLoopback) {
    QUARNEL_ENTER_PRIVATE_NETWORK(host_, "127.0.1.1 " + host_ + "\n127.0.0.5 " + host_ +
                                             "\n203.0.113.10 " + host_ + "\n198.51.100.10 " +
                                             host_ + "\n");
    ASSERT_TRUE(test::AddVethPair(wired_, wiredPeer_, "198.51.100.10/24"));
    ASSERT_TRUE(test::AddVethPair(second_, secondPeer_, "203.0.113.10/24"));

    EXPECT_EQ(FormatIPAddress(GetPrimaryIPAddress(1)), "203.0.113.10");
    EXPECT_EQ(FormatIPAddress(GetPrimaryIPAddress(2)), "198.51.100.10");
    EXPECT_EQ(GetPrimaryIPAddress(3), 0u);
    EXPECT_EQ(GetPrimaryIPAddress(0), 0u);
    EXPECT_EQ(GetAdapterGUID(), second_);
    EXPECT_EQ(GetGatewayIPAddress(), "");
}

TEST_F(AdapterTest, AnAdapterWhosePrimaryAddressIsOnlyItsSecondIsNotFound) {
    QUARNEL_ENTER_PRIVATE_NETWORK(host_, "198.51.100.20 " + host_ + "\n");
    ASSERT_TRUE(test::AddVethPair(wired_, wiredPeer_, "198.51.100.10/24"));
    ASSERT_TRUE(RunIp({"addr", "add", "198.51.100.20/24", "dev", wired_}));

    EXPECT_EQ(FormatIPAddress(GetPrimaryIPAddress(1)), "198.51.100.20");
    EXPECT_EQ(GetAdapterGUID(), "");
}

TEST_F(AdapterTest, TwoAdaptersTheDefaultRouteOfLowestMetricDecides) {
    QUARNEL_ENTER_PRIVATE_NETWORK(host_, "");
    ASSERT_TRUE(test::AddVethPair(wired_, wiredPeer_, "198.51.100.10/24"));
    ASSERT_TRUE(test::AddVethPair(second_, secondPeer_, "203.0.113.10/24"));
    ASSERT_TRUE(
        RunIp({"route", "add", "default", "via", "198.51.100.1", "dev", wired_, "metric", "200"}));
    ASSERT_TRUE(
        RunIp({"route", "add", "default", "via", "203.0.113.1", "dev", second_, "metric", "100"}));

    EXPECT_EQ(FormatIPAddress(GetPrimaryIPAddress(1)), "203.0.113.10");
    EXPECT_EQ(GetAdapterGUID(), second_);
    EXPECT_EQ(GetGatewayIPAddress(), "203.0.113.1");
    const auto other = GetAdapterInfo(wired_);
    ASSERT_TRUE(other);
    EXPECT_EQ(other->gatewayAddress, "198.51.100.1");

    ASSERT_TRUE(RunIp({"route", "del", "default", "via", "203.0.113.1", "dev", second_}));
    EXPECT_EQ(GetAdapterGUID(), wired_);
    EXPECT_EQ(GetGatewayIPAddress(), "198.51.100.1");
}

TEST_F(AdapterTest, PreferredSourceAndGatewaySubnetChooseTheSourceAddress) {
    QUARNEL_ENTER_PRIVATE_NETWORK(host_, "");
    ASSERT_TRUE(test::AddVethPair(wired_, wiredPeer_, "203.0.113.10/24"));
    // The first address does not hold the gateway; the kernel would use the second one.
    ASSERT_TRUE(RunIp({"addr", "add", "198.51.100.10/24", "dev", wired_}));
    ASSERT_TRUE(RunIp({"route", "add", "default", "via", "198.51.100.1", "dev", wired_}));
    EXPECT_EQ(FormatIPAddress(GetPrimaryIPAddress(1)), "198.51.100.10");

    ASSERT_TRUE(RunIp({"route", "replace", "default", "via", "198.51.100.1", "dev", wired_, "src",
                       "203.0.113.10"}));
    EXPECT_EQ(FormatIPAddress(GetPrimaryIPAddress(1)), "203.0.113.10");
    EXPECT_EQ(GetAdapterGUID(), wired_);
}

TEST_F(AdapterTest, DefaultRouteWithoutGatewayHasAnAdapterButNoGateway) {
    QUARNEL_ENTER_PRIVATE_NETWORK(host_, "");
    ASSERT_TRUE(test::AddVethPair(wired_, wiredPeer_, "198.51.100.10/24"));
    ASSERT_TRUE(RunIp({"route", "add", "default", "dev", wired_}));

    EXPECT_EQ(FormatIPAddress(GetPrimaryIPAddress(1)), "198.51.100.10");
    EXPECT_EQ(GetAdapterGUID(), wired_);
    EXPECT_EQ(GetGatewayIPAddress(), "");
}

TEST_F(AdapterTest, ManyInterfacesAndInterfacesVanishingDuringQueries) {
    QUARNEL_ENTER_PRIVATE_NETWORK(host_, "");
    ASSERT_TRUE(test::AddVethPair(wired_, wiredPeer_, "198.51.100.10/24"));
    ASSERT_TRUE(RunIp({"route", "add", "default", "via", "198.51.100.1", "dev", wired_}));

    std::atomic<int> rounds{0};
    std::thread churn([&] {
        for (int i = 0; i < 40; ++i) {
            const std::string name = "qv" + std::to_string(i);
            RunIp({"link", "add", name, "type", "veth", "peer", "name", "qw" + std::to_string(i)});
            RunIp({"link", "set", name, "up"});
            RunIp({"addr", "add", "203.0.113." + std::to_string(i + 1) + "/32", "dev", name});
            if (i % 2 == 0) {
                RunIp({"link", "del", name});
            }
            ++rounds;
        }
    });
    int checks = 0;
    // Bounded by the churn (40 rounds of a few `ip` runs each); the cap is only a backstop.
    while (rounds < 40 && checks < 100000) {
        EXPECT_EQ(GetGatewayIPAddress(), "198.51.100.1");
        // The interface being made or removed right now may or may not be seen.
        (void)GetAdapterInfo("qv" + std::to_string(rounds.load()));
        ++checks;
    }
    churn.join();
    EXPECT_GT(checks, 0);
    // 20 pairs stayed: 40 interfaces besides the test's own pair.
    EXPECT_TRUE(GetAdapterInfo("qv39"));
    EXPECT_FALSE(GetAdapterInfo("qv38"));
    EXPECT_EQ(GetAdapterGUID(), wired_);
}

// The kernel's IPv6 facts as the address choice receives them, and the choice made from them.
TEST_F(AdapterTest, TheIPv6DefaultRouteNamesTheInterfaceWhoseAddressesAreRead) {
    QUARNEL_ENTER_PRIVATE_NETWORK(host_, "");
    ASSERT_TRUE(test::AddVethPair(wired_, wiredPeer_, ""));
    ASSERT_TRUE(test::AddVethPair(second_, secondPeer_, ""));
    IPv6DefaultRouteAddresses found = ReadIPv6DefaultRouteAddresses();
    EXPECT_TRUE(found.complete) << found.problem;
    EXPECT_EQ(found.adapter, "");

    // Temporary addresses from the stable one; duplicate detection that takes a minute.
    const auto sysctl = [](const std::string& path, const char* value) {
        std::ofstream("/proc/sys/net/ipv6/" + path) << value;
    };
    sysctl("conf/" + wired_ + "/use_tempaddr", "2");
    sysctl("neigh/" + wired_ + "/retrans_time_ms", "60000");
    ASSERT_TRUE(
        RunIp({"-6", "addr", "add", "2001:db8:1::10/64", "dev", wired_, "nodad", "mngtmpaddr"}));
    ASSERT_TRUE(RunIp({"-6", "addr", "add", "2001:db8:1::30/64", "dev", wired_, "nodad",
                       "valid_lft", "3600", "preferred_lft", "0"}));
    ASSERT_TRUE(RunIp({"-6", "addr", "add", "2001:db8:1::40/64", "dev", wired_}));
    ASSERT_TRUE(RunIp(
        {"-6", "route", "add", "default", "via", "fe80::1", "dev", second_, "metric", "200"}));
    ASSERT_TRUE(
        RunIp({"-6", "route", "add", "default", "via", "fe80::1", "dev", wired_, "metric", "100"}));

    found = ReadIPv6DefaultRouteAddresses();
    ASSERT_TRUE(found.complete) << found.problem;
    EXPECT_EQ(found.adapter, wired_);
    // Each address with its states as one letter each: permanent, temporary, deprecated, tentative.
    std::set<std::string> read;
    for (const InterfaceIPv6Address& a : found.addresses) {
        const std::string text = FormatIPv6Address(a.bytes);
        if (text.starts_with("fe80:")) {
            continue;  // the interface's own link-local address, whatever state it is in
        }
        read.insert((text.starts_with("2001:db8:1::") ? text : std::string("other")) + " " +
                    (a.permanent ? "p" : "") + (a.temporary ? "t" : "") +
                    (a.deprecated ? "d" : "") + (a.tentative ? "n" : "") +
                    (a.validLifetime == kForeverLifetime ? "" : "l"));
    }
    EXPECT_EQ(read, (std::set<std::string>{"2001:db8:1::10 p", "2001:db8:1::30 dl",
                                           "2001:db8:1::40 pn", "other tnl"}));
    EXPECT_EQ(GetIPv6Address(), "2001:db8:1::10");

    ASSERT_TRUE(RunIp({"-6", "route", "del", "default", "dev", wired_}));
    EXPECT_EQ(ReadIPv6DefaultRouteAddresses().adapter, second_);
}

TEST_F(AdapterTest, WiredAdaptersHaveNoWirelessIdentifier) {
    QUARNEL_ENTER_PRIVATE_NETWORK(host_, "");
    ASSERT_TRUE(test::AddVethPair(wired_, wiredPeer_, "198.51.100.10/24"));
    ASSERT_TRUE(RunIp({"route", "add", "default", "via", "198.51.100.1", "dev", wired_}));

    globalHandles.nl80211Usable = IsNl80211Usable();
    EXPECT_EQ(GetWLANIdentifier(wired_), "");
    EXPECT_EQ(GetGatewayWLANIdentifier(), "");
    EXPECT_EQ(GetWLANIdentifier("no-such-if"), "");
    // Without the wireless interface nothing is asked at all.
    globalHandles.nl80211Usable = false;
    EXPECT_EQ(GetGatewayWLANIdentifier(), "");

    const std::string log = test::TraceLogText();
    EXPECT_EQ(test::CountLogEntries(log, "GetGatewayWLANIdentifier", "GetGatewayWLANIdentifier = "),
              2);
    EXPECT_EQ(test::CountLogEntries(log, "GetGatewayWLANIdentifier", "GUID = " + wired_), 2);
    EXPECT_EQ(test::CountLogEntries(log, "GetWLANIdentifier", "SSID = "), 4);
    EXPECT_EQ(log.find("uSSIDLength = "), std::string::npos);
}

}  // namespace
}  // namespace quarnel
