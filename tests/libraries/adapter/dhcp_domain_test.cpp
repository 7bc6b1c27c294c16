#include "libraries/src/adapter/dhcp_domain.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/dhcp_domain.h"
#include "platform/dhcp_lease_parsers.h"
#include "tests/libraries/adapter/network_test_support.h"

namespace quarnel {
namespace {

// The loopback interface exists in every namespace with index 1, so the lease files need no
// interface of their own.
constexpr const char* kInterface = "lo";
constexpr const char* kUuid = "0f6b4c2e-8d1a-4b7e-9c35-2a1e5d7f9b10";

class DhcpDomainTest : public ::testing::Test {
  protected:
    DhcpDomainTest()
        : rootEnvironment_("QUARNEL_ROOT", root_.Path()),
          stateEnvironment_("XDG_STATE_HOME", "/state") {
        test::EnableTraceLog();
    }

    // Writes a file below the root; age (seconds before now) orders files of one folder.
    std::string Write(const std::string& path, const std::string& text, int age = 0) const {
        const std::string full = root_.Path() + path;
        std::filesystem::create_directories(std::filesystem::path(full).parent_path());
        std::ofstream(full, std::ios::binary | std::ios::trunc) << text;
        timespec times[2] = {{::time(nullptr) - age, 0}, {::time(nullptr) - age, 0}};
        ::utimensat(AT_FDCWD, full.c_str(), times, 0);
        return full;
    }

    static std::string Lease(const std::string& interfaceName, const std::string& domainLine) {
        return "lease {\n  interface \"" + interfaceName +
               "\";\n  fixed-address 198.51.100.10;\n  option subnet-mask 255.255.255.0;\n" +
               domainLine + "  renew 4 2024/01/04 10:00:00;\n}\n";
    }

    test::TemporaryFolder root_;
    test::ScopedEnvironment rootEnvironment_;
    test::ScopedEnvironment stateEnvironment_;
};

TEST_F(DhcpDomainTest, NetworkdLeaseAnswersFirstEvenWithoutDomain) {
    Write("/var/lib/dhcp/dhclient.leases",
          Lease(kInterface, "  option domain-name \"stale.example\";\n"));
    Write("/run/systemd/netif/leases/1",
          "# This is private data. Do not parse.\nADDRESS=198.51.100.10\n"
          "NETMASK=255.255.255.0\nROUTER=198.51.100.1\nDOMAINNAME=corp.example\n");
    EXPECT_EQ(GetDhcpDomain(kInterface), "corp.example");
    EXPECT_EQ(FindDhcpDomain(kInterface).source,
              "systemd-networkd lease " + root_.Path() + "/run/systemd/netif/leases/1");

    // networkd holds the lease, and it carries no domain: the old dhclient file is not asked.
    Write("/run/systemd/netif/leases/1", "ADDRESS=198.51.100.10\nROUTER=198.51.100.1\n");
    EXPECT_EQ(GetDhcpDomain(kInterface), "");

    std::filesystem::remove(root_.Path() + "/run/systemd/netif/leases/1");
    EXPECT_EQ(GetDhcpDomain(kInterface), "stale.example");
    EXPECT_EQ(GetDhcpDomain("no-such-if"), "");

    const std::string log = test::TraceLogText();
    EXPECT_EQ(test::CountLogEntries(log, "GetDhcpDomain", "DhcpDomain = corp.example"), 1);
    EXPECT_GE(test::CountLogEntries(log, "GetDhcpDomain", "Source = none"), 1);
}

TEST_F(DhcpDomainTest, NetworkManagerLeaseFilesNewestForTheInterfaceWins) {
    Write(std::string("/var/lib/NetworkManager/internal-") + kUuid + "-lo.lease",
          "ADDRESS=198.51.100.10\nDOMAINNAME=older.example\n", 100);
    Write(std::string("/var/lib/NetworkManager/dhclient-") + kUuid + "-lo.lease",
          Lease(kInterface, "  option domain-name \"nm.example\";\n"), 10);
    // Other interfaces' leases, newer still, and names that only end like ours.
    Write(std::string("/var/lib/NetworkManager/internal-") + kUuid + "-xlo.lease",
          "DOMAINNAME=x.example\n");
    Write("/var/lib/NetworkManager/internal-not-a-uuid-lo.lease", "DOMAINNAME=bad.example\n");
    Write("/var/lib/NetworkManager/timestamps", "[timestamps]\n");
    Write("/var/lib/dhcp/dhclient.leases",
          Lease(kInterface, "  option domain-name \"d.example\";\n"));

    EXPECT_EQ(GetDhcpDomain(kInterface), "nm.example");
    std::filesystem::remove(root_.Path() + "/var/lib/NetworkManager/dhclient-" + kUuid +
                            "-lo.lease");
    EXPECT_EQ(GetDhcpDomain(kInterface), "older.example");
}

TEST_F(DhcpDomainTest, DhclientTakesTheLastLeaseOfTheNewestFileThatHasOne) {
    Write("/var/lib/dhcp/dhclient.leases",
          "default-duid \"\\000\\001\\000\\001\";\n" +
              Lease(kInterface, "  option domain-name \"first.example\";\n") +
              Lease("eth9", "  option domain-name \"other.example\";\n") +
              "# a comment { with braces\n" +
              Lease(kInterface, "  option domain-name \"corp\\056example\";\n") +
              Lease("eth9", "  option domain-name \"other2.example\";\n"),
          50);
    EXPECT_EQ(GetDhcpDomain(kInterface), "corp.example");

    // A newer file without a lease for the interface does not count; a newer one with it does.
    Write("/var/lib/dhclient/dhclient-eth9.lease",
          Lease("eth9", "  option domain-name \"n.example\";\n"), 5);
    EXPECT_EQ(GetDhcpDomain(kInterface), "corp.example");
    Write("/var/lib/dhclient/dhclient--lo.lease", Lease(kInterface, ""), 5);
    EXPECT_EQ(GetDhcpDomain(kInterface), "");
    // IPv6 leases are not read.
    Write("/var/lib/dhcp/dhclient6.leases",
          Lease(kInterface, "  option domain-name \"v6.example\";\n"));
    EXPECT_EQ(GetDhcpDomain(kInterface), "");
}

TEST_F(DhcpDomainTest, MalformedHugeAndUnreadableFilesGiveNoDomain) {
    // networkd's file is the interface's own: when it cannot be used the answer is empty.
    Write("/run/systemd/netif/leases/1", "ADDRESS=198.51.100.10\nthis is no lease\n");
    Write("/var/lib/dhcp/dhclient.leases",
          Lease(kInterface, "  option domain-name \"d.example\";\n"), 100);
    EXPECT_EQ(GetDhcpDomain(kInterface), "");
    std::filesystem::remove(root_.Path() + "/run/systemd/netif/leases/1");
    std::filesystem::create_directories(root_.Path() + "/run/systemd/netif/leases/1");
    EXPECT_EQ(GetDhcpDomain(kInterface), "");
    std::filesystem::remove(root_.Path() + "/run/systemd/netif/leases/1");
    // A FIFO is refused without waiting for a writer.
    ASSERT_EQ(::mkfifo((root_.Path() + "/run/systemd/netif/leases/1").c_str(), 0600), 0);
    EXPECT_EQ(GetDhcpDomain(kInterface), "");
    std::filesystem::remove(root_.Path() + "/run/systemd/netif/leases/1");
    EXPECT_EQ(GetDhcpDomain(kInterface), "d.example");

    // dhclient files that cannot be used are passed over for older ones.
    Write("/var/lib/dhcp/dhclient.a.leases", "lease {\n  interface \"lo\n", 1);
    Write("/var/lib/dhcp/dhclient.b.leases", Lease(kInterface, "") + "}\n", 1);
    Write("/var/lib/dhcp/dhclient.c.leases",
          Lease(kInterface, "  option domain-name \"x\";\n") +
              std::string(kMaximumLeaseFileSize, ' '),
          1);
    Write("/var/lib/dhcp/dhclient.d.leases", Lease(kInterface, "") + "\0"[0] + "x", 1);
    std::filesystem::create_directories(root_.Path() + "/var/lib/dhcp/dhclient.e.leases");
    EXPECT_EQ(GetDhcpDomain(kInterface), "d.example");

    // A domain that no server may hand out is refused; older leases do not stand in for it.
    Write("/var/lib/dhcp/dhclient.f.leases",
          Lease(kInterface, "  option domain-name \"evil\\012LOGLINE example\";\n"));
    EXPECT_EQ(GetDhcpDomain(kInterface), "");

    const std::string log = test::TraceLogText();
    for (const char* problem :
         {"/run/systemd/netif/leases/1 is malformed: a line is not of the form KEY=VALUE",
          "/run/systemd/netif/leases/1 is not a regular file",
          "/var/lib/dhcp/dhclient.a.leases is malformed: a quoted text is not terminated",
          "/var/lib/dhcp/dhclient.b.leases is malformed: a block is closed that was never opened",
          "/var/lib/dhcp/dhclient.c.leases is too large",
          "/var/lib/dhcp/dhclient.e.leases is not a regular file"}) {
        EXPECT_NE(log.find(root_.Path() + problem), std::string::npos) << problem;
    }
    EXPECT_NE(log.find("characters a domain cannot have"), std::string::npos);
}

TEST(DhcpLeaseParsers, DhclientSyntaxDetails) {
    const LeaseDomain nested = ParseDhclientLeases(
        "lease {\n interface \"wl0\";\n option domain-name \"a.example\";\n"
        " option vendor { x 1; }\n}\nlease { option domain-name \"b.example\"; }\n",
        "wl0");
    EXPECT_TRUE(nested.wellFormed);
    EXPECT_TRUE(nested.leaseFound);
    EXPECT_EQ(nested.domain, "a.example");

    const LeaseDomain other = ParseDhclientLeases("lease { interface \"wl0\"; }", "wl1");
    EXPECT_TRUE(other.wellFormed);
    EXPECT_FALSE(other.leaseFound);

    EXPECT_FALSE(ParseDhclientLeases("lease { interface \"wl0\";", "wl0").wellFormed);
    EXPECT_FALSE(ParseDhclientLeases("lease { interface \"wl0\\", "wl0").wellFormed);
    EXPECT_EQ(
        ParseDhclientLeases("lease { interface \"wl0\"; option domain-name \"q\\\"x\"; }", "wl0")
            .problem,
        "the lease's domain name holds characters a domain cannot have");
}

TEST(DhcpLeaseParsers, KeyValueSyntaxDetails) {
    EXPECT_EQ(ParseKeyValueLease("DOMAINNAME=\"q.example\"\n").domain, "q.example");
    EXPECT_EQ(ParseKeyValueLease("  # comment\n\nDOMAINNAME = a.example \r\n").domain, "a.example");
    EXPECT_EQ(ParseKeyValueLease("DOMAINNAME=a.example\r\n").domain, "a.example");
    EXPECT_FALSE(ParseKeyValueLease("=x\n").wellFormed);
    EXPECT_TRUE(IsAcceptableDomainName("corp-1.example_x"));
    EXPECT_FALSE(IsAcceptableDomainName(std::string(254, 'a')));
    EXPECT_FALSE(IsAcceptableDomainName("a b"));
    EXPECT_FALSE(IsAcceptableDomainName(""));
}

}  // namespace
}  // namespace quarnel
