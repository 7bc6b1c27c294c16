#include "libraries/src/adapter/change_events.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "libraries/src/adapter/adapter.h"
#include "platform/network_change.h"
#include "platform/unique_fd.h"
#include "tests/libraries/adapter/network_test_support.h"

namespace quarnel {
namespace {

using test::RunIp;
using test::UniqueName;

// Long enough for any notification that is coming to arrive; short enough to keep the tests
// quick. Only "nothing arrived" waits run this long.
constexpr std::int64_t kQuietMs = 400;
constexpr std::int64_t kEventMs = 5000;

class ChangeEventsTest : public ::testing::Test {
  protected:
    ChangeEventsTest() : rootEnvironment_("QUARNEL_ROOT", root_.Path()) {}

    // A namespace with one veth pair, 198.51.100.10/24 and a default route via 198.51.100.1.
    bool EnterNetwork() {
        std::string reason;
        if (!test::EnterPrivateNetwork(UniqueName("qh"), "", reason)) {
            skipReason_ = reason;
            return false;
        }
        return test::AddVethPair(wired_, peer_, "198.51.100.10/24") &&
               RunIp({"route", "add", "default", "via", "198.51.100.1", "dev", wired_});
    }

    const std::string wired_ = UniqueName("qa");
    const std::string peer_ = UniqueName("qb");
    std::string skipReason_;
    test::TemporaryFolder root_;
    test::ScopedEnvironment rootEnvironment_;
};

#define ENTER_NETWORK_OR_SKIP()              \
    do {                                     \
        const bool entered = EnterNetwork(); \
        if (!skipReason_.empty()) {          \
            GTEST_SKIP() << skipReason_;     \
        }                                    \
        ASSERT_TRUE(entered);                \
    } while (0)

TEST_F(ChangeEventsTest, GatewayIsFoundAndASecondAddressWakesTheAddressHandle) {
    ENTER_NETWORK_OR_SKIP();
    EXPECT_EQ(GetGatewayIPAddress(), "198.51.100.1");
    WaitHandle address = AddressChangeEvent(-1);
    ASSERT_TRUE(address);
    EXPECT_EQ(WaitForHandles(&address, 1, 0, false), kWaitTimeout);
    ASSERT_TRUE(RunIp({"addr", "add", "198.51.100.11/24", "dev", wired_}));
    EXPECT_EQ(WaitForHandles(&address, 1, kEventMs, false), 0u);
}

TEST_F(ChangeEventsTest, EachChangeWakesTheWaitWithItsOwnSlot) {
    ENTER_NETWORK_OR_SKIP();
    // The change watcher's order: configuration, timer, address, route.
    WaitHandle handles[4] = {NetworkConfigurationChangeEvent(-1), TimerEvent(600000),
                             AddressChangeEvent(-1), RouteChangeEvent(-1)};
    for (const WaitHandle& handle : handles) {
        ASSERT_TRUE(handle);
    }
    EXPECT_EQ(WaitForHandles(handles, 4, 0, false), kWaitTimeout);

    ASSERT_TRUE(RunIp({"route", "add", "203.0.113.0/24", "via", "198.51.100.1"}));
    EXPECT_EQ(WaitForHandles(handles, 4, kEventMs, false), 3u);
    EXPECT_EQ(WaitForHandles(handles, 4, kQuietMs, false), kWaitTimeout);

    // An address is announced before the routes the kernel adds for it.
    ASSERT_TRUE(RunIp({"addr", "add", "198.51.100.12/24", "dev", wired_}));
    EXPECT_EQ(WaitForHandles(handles, 4, kEventMs, false), 2u);
    EXPECT_EQ(WaitForHandles(&handles[3], 1, kEventMs, false), 0u);

    ASSERT_TRUE(RunIp({"link", "set", peer_, "down"}));
    EXPECT_EQ(WaitForHandles(handles, 1, kEventMs, false), 0u);
}

TEST_F(ChangeEventsTest, AddressHandleIgnoresOtherKindsAndLifetimeRefreshes) {
    ENTER_NETWORK_OR_SKIP();
    ASSERT_TRUE(RunIp({"addr", "add", "198.51.100.20/24", "dev", wired_, "valid_lft", "600",
                       "preferred_lft", "600"}));
    WaitHandle address = AddressChangeEvent(-1);
    ASSERT_TRUE(address);

    ASSERT_TRUE(RunIp({"-6", "addr", "add", "2001:db8::10/64", "dev", wired_, "nodad"}));
    ASSERT_TRUE(RunIp({"link", "set", wired_, "mtu", "1400"}));
    ASSERT_TRUE(RunIp({"link", "set", wired_, "down"}));
    ASSERT_TRUE(RunIp({"link", "set", wired_, "up"}));
    ASSERT_TRUE(RunIp({"route", "add", "203.0.113.0/24", "via", "198.51.100.1"}));
    // A DHCP renewal refreshes the lifetimes of an address it already holds.
    ASSERT_TRUE(RunIp({"addr", "change", "198.51.100.20/24", "dev", wired_, "valid_lft", "900",
                       "preferred_lft", "900"}));
    EXPECT_EQ(WaitForHandles(&address, 1, kQuietMs, false), kWaitTimeout);

    ASSERT_TRUE(RunIp({"addr", "del", "198.51.100.20/24", "dev", wired_}));
    EXPECT_EQ(WaitForHandles(&address, 1, kEventMs, false), 0u);
    // The same address coming back is a change again.
    ASSERT_TRUE(RunIp({"addr", "add", "198.51.100.20/24", "dev", wired_}));
    EXPECT_EQ(WaitForHandles(&address, 1, kEventMs, false), 0u);
}

TEST_F(ChangeEventsTest, RouteHandleIgnoresIPv6RoutesAndLinkSettings) {
    ENTER_NETWORK_OR_SKIP();
    ASSERT_TRUE(RunIp({"-6", "addr", "add", "2001:db8::10/64", "dev", wired_, "nodad"}));
    WaitHandle route = RouteChangeEvent(-1);
    ASSERT_TRUE(route);
    ASSERT_TRUE(RunIp({"-6", "route", "add", "2001:db8:1::/64", "via", "2001:db8::1"}));
    ASSERT_TRUE(RunIp({"link", "set", wired_, "mtu", "1300"}));
    EXPECT_EQ(WaitForHandles(&route, 1, kQuietMs, false), kWaitTimeout);

    ASSERT_TRUE(RunIp({"route", "del", "default"}));
    EXPECT_EQ(WaitForHandles(&route, 1, kEventMs, false), 0u);
}

// With IPv6 the handles also see what decides the published IPv6 address, and nothing else.
TEST_F(ChangeEventsTest, WithIPv6TheHandlesWatchTheStatesOfGlobalIPv6Addresses) {
    ENTER_NETWORK_OR_SKIP();
    ASSERT_TRUE(RunIp({"-6", "addr", "add", "2001:db8::10/64", "dev", wired_, "nodad", "valid_lft",
                       "600", "preferred_lft", "600"}));
    WaitHandle address = AddressChangeEvent(-1, true);
    ASSERT_TRUE(address);
    ASSERT_TRUE(RunIp({"-6", "addr", "add", "fd00::10/64", "dev", wired_, "nodad"}));
    ASSERT_TRUE(RunIp({"-6", "addr", "add", "fe80::99/64", "dev", wired_, "nodad"}));
    // A router advertisement refreshes the lifetimes of an address that stays.
    ASSERT_TRUE(RunIp({"-6", "addr", "change", "2001:db8::10/64", "dev", wired_, "valid_lft", "900",
                       "preferred_lft", "900"}));
    EXPECT_EQ(WaitForHandles(&address, 1, kQuietMs, false), kWaitTimeout);

    // Deprecated: it can no longer be published.
    ASSERT_TRUE(RunIp({"-6", "addr", "change", "2001:db8::10/64", "dev", wired_, "valid_lft", "900",
                       "preferred_lft", "0"}));
    EXPECT_EQ(WaitForHandles(&address, 1, kEventMs, false), 0u);
    ASSERT_TRUE(RunIp({"-6", "addr", "add", "2001:db8::11/64", "dev", wired_, "nodad"}));
    EXPECT_EQ(WaitForHandles(&address, 1, kEventMs, false), 0u);

    WaitHandle route = RouteChangeEvent(-1, true);
    ASSERT_TRUE(route);
    ASSERT_TRUE(RunIp({"-6", "route", "add", "default", "via", "fe80::1", "dev", wired_}));
    EXPECT_EQ(WaitForHandles(&route, 1, kEventMs, false), 0u);
}

TEST_F(ChangeEventsTest, ConfigurationHandleWatchesLinkStateAndLeaseFiles) {
    const std::string leases = root_.Path() + "/run/systemd/netif/leases";
    const std::string dhclient = root_.Path() + "/var/lib/dhcp";
    std::filesystem::create_directories(leases);
    std::filesystem::create_directories(dhclient);
    ENTER_NETWORK_OR_SKIP();
    WaitHandle configuration = NetworkConfigurationChangeEvent(-1);
    ASSERT_TRUE(configuration);

    // Not watched: addresses, routes, the MTU, and files that are no leases.
    ASSERT_TRUE(RunIp({"addr", "add", "198.51.100.30/24", "dev", wired_}));
    ASSERT_TRUE(RunIp({"route", "add", "203.0.113.0/24", "via", "198.51.100.1"}));
    ASSERT_TRUE(RunIp({"link", "set", wired_, "mtu", "1400"}));
    std::ofstream(leases + "/.#12abcd") << "ADDRESS=198.51.100.10\n";
    std::ofstream(dhclient + "/notes.txt") << "x";
    EXPECT_EQ(WaitForHandles(&configuration, 1, kQuietMs, false), kWaitTimeout);

    std::ofstream(leases + "/7") << "ADDRESS=198.51.100.10\n";
    EXPECT_EQ(WaitForHandles(&configuration, 1, kEventMs, false), 0u);
    std::ofstream(dhclient + "/dhclient.eth0.leases", std::ios::app) << "lease {\n}\n";
    EXPECT_EQ(WaitForHandles(&configuration, 1, kEventMs, false), 0u);

    ASSERT_TRUE(RunIp({"link", "set", wired_, "down"}));
    EXPECT_EQ(WaitForHandles(&configuration, 1, kEventMs, false), 0u);
    ASSERT_TRUE(
        RunIp({"link", "add", UniqueName("qn"), "type", "veth", "peer", "name", UniqueName("qm")}));
    EXPECT_EQ(WaitForHandles(&configuration, 1, kEventMs, false), 0u);
}

TEST_F(ChangeEventsTest, TimeOutEndsTheWatchAfterTheGrace) {
    ENTER_NETWORK_OR_SKIP();
    WaitHandle expiring = AddressChangeEvent(0);
    WaitHandle watching = AddressChangeEvent(60000);
    WaitHandle unlimited = AddressChangeEvent(-1);
    ASSERT_TRUE(expiring);
    ASSERT_TRUE(watching);
    ASSERT_TRUE(unlimited);
    // Past the time-out plus the one second of grace nothing counts any more.
    std::this_thread::sleep_for(std::chrono::milliseconds(1300));
    ASSERT_TRUE(RunIp({"addr", "add", "198.51.100.40/24", "dev", wired_}));
    EXPECT_EQ(WaitForHandles(&watching, 1, kEventMs, false), 0u);
    EXPECT_EQ(WaitForHandles(&unlimited, 1, kEventMs, false), 0u);
    EXPECT_EQ(WaitForHandles(&expiring, 1, kQuietMs, false), kWaitTimeout);
    ASSERT_TRUE(RunIp({"addr", "del", "198.51.100.40/24", "dev", wired_}));
    EXPECT_EQ(WaitForHandles(&expiring, 1, kQuietMs, false), kWaitTimeout);
}

TEST_F(ChangeEventsTest, ClosingAHandleEndsItsNotification) {
    ENTER_NETWORK_OR_SKIP();
    WaitHandle address = AddressChangeEvent(-1);
    ASSERT_TRUE(address);
    const int descriptor = DescriptorOf(address->Handle());
    EXPECT_EQ(CloseWaitHandle(address), 0);
    EXPECT_FALSE(address);
    EXPECT_EQ(::fcntl(descriptor, F_GETFD), -1);
    ASSERT_TRUE(RunIp({"addr", "add", "198.51.100.50/24", "dev", wired_}));
    EXPECT_EQ(WaitForHandles(&address, 1, 0, false), kWaitFailed);
}

TEST(TimerEvent, FiresOnceAfterItsTime) {
    WaitHandle timer = TimerEvent(50);
    ASSERT_TRUE(timer);
    EXPECT_EQ(WaitForHandles(&timer, 1, kEventMs, false), 0u);
    EXPECT_EQ(WaitForHandles(&timer, 1, 200, false), kWaitTimeout);

    WaitHandle now = TimerEvent(0);
    ASSERT_TRUE(now);
    EXPECT_EQ(WaitForHandles(&now, 1, kEventMs, false), 0u);
    WaitHandle later = TimerEvent(600000);
    ASSERT_TRUE(later);
    EXPECT_EQ(WaitForHandles(&later, 1, 100, false), kWaitTimeout);
}

TEST(NetworkConfiguration, IsAvailableWhereRtnetlinkIs) {
    EXPECT_TRUE(IsNetworkConfigurationAvailable());
    // Change handles open without root: they only listen.
    EXPECT_TRUE(AddressChangeEvent(-1));
    EXPECT_TRUE(RouteChangeEvent(-1));
    EXPECT_TRUE(NetworkConfigurationChangeEvent(-1));
}

}  // namespace
}  // namespace quarnel
