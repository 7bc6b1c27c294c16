#pragma once

// One DNS query as the program's callers see it: an A query for a name at the given servers, or
// at the system's. On this platform the exchange runs in the helper process
// (ddns/dns_query_linux.cpp), so the program itself never parses a byte a DNS server sent;
// StopNetworkExchanges (platform/exchange_stop.h) ends a query in progress at once.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ddns/dns_answer.h"

namespace quarnel {

struct ResolverAddress {
    std::uint32_t packed = 0;  // as ParseIPAddress gives it; 0 names no resolver
    std::uint16_t port = 53;
};

// The first answer record of the answer to an A query for host (see ReadFirstDnsAnswer), asked
// at servers (at most the first three) or, when there are none, at the servers of the system's
// resolver configuration (IPv4 and IPv6); UDP first, TCP when the answer was cut short, with the
// time-out and tries of that configuration. An answer counts only from the server asked (its
// address and port) and only when it answers the question asked. None on any failure.
DnsAnswer RunDnsQuery(std::string_view host, const std::vector<ResolverAddress>& servers);

}  // namespace quarnel
