#include "network/network_filter.h"

#include <gtest/gtest.h>
#include <net/if.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "network/network_filter_sources.h"
#include "network/network_match.h"
#include "settings/registry.h"
#include "tests/libraries/adapter/network_test_support.h"

namespace quarnel {
namespace {

constexpr RegistryHive kMachine = RegistryHive::LocalMachine;
constexpr const char* kSettings = "SOFTWARE\\Quarnel Updater\\Settings";

TEST(NetworkList, OnlyWholeEntriesMatch) {
    // An entry that merely ends with the identifier is another network.
    EXPECT_EQ(FindNetworkEntry("192.168.1.1\n\n", "92.168.1.1"), 0);
    EXPECT_EQ(FindNetworkEntry("office.corp.example\n\n", "corp.example"), 0);
    EXPECT_EQ(FindNetworkEntry("192.168.1.10\n\n", "192.168.1.1"), 0);
    EXPECT_EQ(FindNetworkEntry("corp.example.net\n\n", "corp.example"), 0);
    // The result is the entry's position in the list text, counted from 1.
    EXPECT_EQ(FindNetworkEntry("192.168.1.1\n\n", "192.168.1.1"), 1);
    EXPECT_EQ(FindNetworkEntry("office.corp.example\ncorp.example\n\n", "corp.example"), 21);
    EXPECT_EQ(FindNetworkEntry("a\nb\nb\n", "b"), 3);
    EXPECT_EQ(FindNetworkEntry("a\nb", "b"), 3);
    // Letter case counts; nothing matches an empty identifier or an empty list.
    EXPECT_EQ(FindNetworkEntry("HomeNet\n\n", "homenet"), 0);
    EXPECT_EQ(FindNetworkEntry("a\n\n\n", ""), 0);
    EXPECT_EQ(FindNetworkEntry("", "a"), 0);
}

class NetworkFilterTest : public ::testing::Test {
  protected:
    NetworkFilterTest()
        : rootEnvironment_("QUARNEL_ROOT", root_.Path()),
          stateEnvironment_("XDG_STATE_HOME", "/state"),
          configEnvironment_("XDG_CONFIG_HOME", "/config") {
        test::EnableTraceLog();
        CreateRegistryKey(kMachine, kSettings);
    }

    static void SetFilter(const char* filter, const char* list, const std::string& entries) {
        WriteRegistryDword(kMachine, kSettings, filter, 1);
        if (!entries.empty()) {
            WriteRegistryMultiString(kMachine, kSettings, list, entries);
        }
    }

    std::int64_t Test(const std::string& local, const std::string& wireless) {
        return TestNetworkWith({[this, local] {
                                    ++localAsked_;
                                    return local;
                                },
                                [this, wireless] {
                                    ++wirelessAsked_;
                                    return wireless;
                                }});
    }

    int localAsked_ = 0;
    int wirelessAsked_ = 0;
    const std::string host_ = test::UniqueName("qh");
    const std::string wired_ = test::UniqueName("qa");
    const std::string peer_ = test::UniqueName("qb");
    test::TemporaryFolder root_;
    test::ScopedEnvironment rootEnvironment_;
    test::ScopedEnvironment stateEnvironment_;
    test::ScopedEnvironment configEnvironment_;
};

TEST_F(NetworkFilterTest, NoActiveFilterAllowsWithoutAsking) {
    EXPECT_EQ(Test("10.0.0.1", "HomeNet"), 1);
    EXPECT_EQ(localAsked_ + wirelessAsked_, 0);
}

TEST_F(NetworkFilterTest, LocalFilterAllowsListedNetworksOnly) {
    SetFilter("LocalFilter", "LocalNetworks", "10.9.9.9\n192.168.1.1\n");
    EXPECT_EQ(Test("192.168.1.1", ""), 10);
    EXPECT_EQ(Test("10.0.0.1", ""), 0);
    EXPECT_EQ(Test("92.168.1.1", ""), 0);
    // A network that cannot be identified passes.
    EXPECT_EQ(Test("", ""), 1);
    EXPECT_EQ(wirelessAsked_, 0);

    SetFilter("LocalFilter", "LocalNetworks", "office.corp.example\n");
    EXPECT_EQ(Test("corp.example", ""), 0);
    EXPECT_EQ(Test("Office.corp.example", ""), 0);
    EXPECT_EQ(Test("office.corp.example", ""), 1);
}

TEST_F(NetworkFilterTest, MissingListForbidsEveryIdentifiableNetwork) {
    WriteRegistryDword(kMachine, kSettings, "LocalFilter", 1);
    EXPECT_EQ(Test("192.168.1.1", ""), 0);
    EXPECT_EQ(Test("", ""), 1);
}

TEST_F(NetworkFilterTest, WirelessFilterIsAskedOnlyWhenTheLocalOneAllowed) {
    SetFilter("LocalFilter", "LocalNetworks", "192.168.1.1\n");
    SetFilter("WirelessFilter", "WirelessNetworks", "OfficeNet\nHomeNet\n");
    EXPECT_EQ(Test("10.0.0.1", "HomeNet"), 0);
    EXPECT_EQ(wirelessAsked_, 0);
    const std::string log = test::TraceLogText();
    EXPECT_EQ(test::CountLogEntries(log, "TestNetwork", "Local network filter active"), 1);
    EXPECT_EQ(test::CountLogEntries(log, "TestNetwork", "Wireless network filter active"), 0);
    EXPECT_EQ(test::CountLogEntries(log, "TestNetwork", "Networks = 192.168.1.1\n\n"), 1);
    EXPECT_EQ(test::CountLogEntries(log, "TestNetwork", "Result = 0"), 1);

    EXPECT_EQ(Test("192.168.1.1", "HomeNet"), 11);
    EXPECT_EQ(Test("192.168.1.1", "homenet"), 0);
    EXPECT_EQ(Test("192.168.1.1", "Net"), 0);
    // A wired connection has no SSID and passes the wireless filter.
    EXPECT_EQ(Test("192.168.1.1", ""), 1);
    EXPECT_EQ(wirelessAsked_, 4);
}

TEST_F(NetworkFilterTest, WirelessFilterAloneForbidsUnlistedNetworks) {
    SetFilter("WirelessFilter", "WirelessNetworks", "OfficeNet\n");
    EXPECT_EQ(Test("10.0.0.1", "HomeNet"), 0);
    EXPECT_EQ(Test("10.0.0.1", "OfficeNet"), 1);
    EXPECT_EQ(localAsked_, 0);
}

TEST_F(NetworkFilterTest, CurrentNetworkIsTheDhcpDomainElseTheGateway) {
    QUARNEL_ENTER_PRIVATE_NETWORK(host_, "");
    ASSERT_TRUE(test::AddVethPair(wired_, peer_, "198.51.100.10/24"));
    // No default route: no identifier, and the filter lets the update through.
    EXPECT_EQ(GetNetwork(), "");
    SetFilter("LocalFilter", "LocalNetworks", "192.168.1.1\n198.51.100.1\n");
    EXPECT_EQ(TestNetwork(), 1);

    ASSERT_TRUE(test::RunIp({"route", "add", "default", "via", "198.51.100.1", "dev", wired_}));
    EXPECT_EQ(GetNetwork(), "198.51.100.1");
    EXPECT_EQ(TestNetwork(), 13);

    const std::string leases = root_.Path() + "/run/systemd/netif/leases";
    std::filesystem::create_directories(leases);
    std::ofstream(leases + "/" + std::to_string(if_nametoindex(wired_.c_str())))
        << "ADDRESS=198.51.100.10\nDOMAINNAME=corp.example\n";
    EXPECT_EQ(GetNetwork(), "corp.example");
    EXPECT_EQ(TestNetwork(), 0);
    SetFilter("LocalFilter", "LocalNetworks", "office.corp.example\n");
    EXPECT_EQ(TestNetwork(), 0);
    SetFilter("LocalFilter", "LocalNetworks", "office.corp.example\ncorp.example\n");
    EXPECT_EQ(TestNetwork(), 21);

    // A wired network passes the wireless filter.
    SetFilter("WirelessFilter", "WirelessNetworks", "OfficeNet\n");
    EXPECT_EQ(TestNetwork(), 21);

    const std::string log = test::TraceLogText();
    for (const auto& [procedure, message] : std::vector<std::pair<std::string, std::string>>{
             {"GetNetwork", "Identifiying network"},
             {"GetNetwork", "Gateway = 198.51.100.1"},
             {"GetNetwork", "Adapter = " + wired_},
             {"GetNetwork", "Domain = corp.example"},
             {"GetNetwork", "Network = corp.example"},
             {"GetNetwork", "Gateway = "},
             {"GetNetwork", "Network = "},
             {"TestNetwork", "Testing network filter"},
             {"TestNetwork", "Network = corp.example"},
             {"TestNetwork", "Result = 21"},
             {"TestNetwork", "Wireless network filter active"}}) {
        EXPECT_GE(test::CountLogEntries(log, procedure, message), 1)
            << procedure << ": " << message;
    }
}

}  // namespace
}  // namespace quarnel
