#pragma once

// The domain name that DHCP handed to an interface, asked of the DHCP client that serves it.
//
// Sources, in this order; the first one that knows the interface answers, even with an empty
// domain:
//   1. systemd-networkd: /run/systemd/netif/leases/<interface index>, line DOMAINNAME=.
//   2. NetworkManager: the interface's DHCP4 options (domain_name) over the system D-Bus when
//      NetworkManager is on the bus and manages the interface; when it is not on the bus, its
//      lease files /var/lib/NetworkManager/<client>-<connection uuid>-<interface>.lease (the
//      newest one; KEY=VALUE or dhclient syntax by client).
//   3. ISC dhclient: /var/lib/dhcp/dhclient*.leases and /var/lib/dhclient/dhclient*.lease(s):
//      the last lease for the interface in the newest file that has one (option domain-name).
// Live sources come before lease files that outlive their client. Every path lies below
// QUARNEL_ROOT, and so does the system bus socket when QUARNEL_ROOT is set.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quarnel {

struct DhcpDomainAnswer {
    // The domain; empty when no source knows the interface or the one that does has none.
    std::string domain;
    // Which source answered ("systemd-networkd lease /run/..."); empty when none knew.
    std::string source;
    // Files or services that could not be used on the way (unreadable, malformed, too large).
    std::vector<std::string> problems;
};

DhcpDomainAnswer FindDhcpDomain(const std::string& interfaceName);

// The lease folders of the sources above and which of their file names are leases. The
// network-configuration change handle watches them.
enum class LeaseFolderKind { Networkd, NetworkManager, Dhclient };
struct LeaseFolder {
    std::string path;
    LeaseFolderKind kind;
};
std::vector<LeaseFolder> DhcpLeaseFolders();
bool IsLeaseFileName(LeaseFolderKind kind, std::string_view name);

// Lease files larger than this are refused rather than read.
inline constexpr std::size_t kMaximumLeaseFileSize = 1 << 20;

}  // namespace quarnel
