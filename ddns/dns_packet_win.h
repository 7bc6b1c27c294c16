#pragma once

// Windows only: the A query packet of the resolver's own exchange (ddns/dns_resolver_win.cpp).

#include <cstdint>
#include <string_view>
#include <vector>

namespace quarnel {

// The query for host's A record with id, recursion desired; empty for a name that cannot be
// asked (an empty label, a label over 63 bytes, a name over 253).
std::vector<unsigned char> BuildDnsQuery(std::string_view host, std::uint16_t id);

}  // namespace quarnel
