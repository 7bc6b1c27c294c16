#pragma once

// Readers for the lease files that DHCP clients leave behind. They take the file's text and
// never trust it: anything that does not follow the format gives no domain and a problem text.

#include <string>
#include <string_view>

namespace quarnel {

struct LeaseDomain {
    // The file follows its format.
    bool wellFormed = false;
    // The file holds a lease for the interface asked about (always true for the one-lease
    // formats that are named after their interface).
    bool leaseFound = false;
    // The lease's domain name; empty when the lease has none.
    std::string domain;
    // Why the file was refused, or (with wellFormed) why the lease's domain was; empty when
    // neither was.
    std::string problem;
};

// KEY=VALUE lines as systemd-networkd (and NetworkManager's built-in client) write them; the
// domain is DOMAINNAME.
LeaseDomain ParseKeyValueLease(std::string_view text);

// ISC dhclient's lease list: `lease { interface "eth0"; option domain-name "x"; ... }` blocks,
// newest last. The domain of the last lease for interfaceName.
LeaseDomain ParseDhclientLeases(std::string_view text, std::string_view interfaceName);

// A domain name as a DHCP server may hand it out: 1 to 253 characters from letters, digits,
// '-', '_' and '.'. Anything else (blanks, control characters, quotes) is refused, because the
// text ends up in the debug log and in the network lists.
bool IsAcceptableDomainName(std::string_view text);

}  // namespace quarnel
