#pragma once

// Every remote endpoint the program talks to: a built-in default, overridable value by value
// under HKEY_LOCAL_MACHINE\SOFTWARE\Quarnel Updater\Endpoints (REG_SZ values; an empty or
// missing value means the default). Host endpoints are "host" or "host:port"; resolver lists
// are IPv4 addresses, each with an optional ":port", joined by ",". A host may also be an IPv6
// address in brackets ("[2001:db8::1]:8443").

#include <string>
#include <string_view>

namespace quarnel {

inline constexpr std::string_view kEndpointsKey = "SOFTWARE\\Quarnel Updater\\Endpoints";

enum class Endpoint {
    DynDnsUpdate,       // "DynDNS"
    OpenDnsUpdate,      // "OpenDNS"
    DnsOMaticUpdate,    // "DNSOMatic"
    SpDnsUpdate,        // "spDNS"
    StratoUpdate,       // "STRATO"
    NoIpUpdate,         // "NoIP"
    DnsOMaticAllHosts,  // "DNSOMaticAllHosts": the pseudo host name for all hosts of an account
    IpEcho,             // "IPEcho": the page at "/" that answers the caller's address
    IpEchoHttp,         // "IPEchoHTTP": the same page for plain http; empty default: IPEcho's value
    OpenDnsResolvers,   // "OpenDNSResolvers"
    OpenDnsMyIp,        // "OpenDNSMyIP": the name those resolvers answer with the asker's address
    ProbeHost,          // "ProbeHost": a well-known name for the connectivity test
    Website,            // "Website": the maker's web site
    IssueTracker,       // "IssueTracker": the maker's issue tracker
    Resolvers,          // "Resolvers": the system's resolvers; empty default: /etc/resolv.conf
    IpEcho6,            // "IPEcho6": a page at "/" that answers the caller's IPv6 address
};

std::string_view EndpointValueName(Endpoint endpoint);
std::string_view EndpointDefault(Endpoint endpoint);
// The override when one is set, else the default (for IPEchoHTTP: IPEcho's value); surrounding
// blanks are removed.
std::string GetEndpoint(Endpoint endpoint);

}  // namespace quarnel
