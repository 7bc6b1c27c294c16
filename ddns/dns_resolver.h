#pragma once

// Name resolution for address detection and the connectivity test: one A query, no cache.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ddns/dns_query.h"

namespace quarnel {

// One entry per ","-separated field, in order: ParseIPAddress of the field, with an optional
// ":port" (1 to 65535; any other port text makes the entry name no resolver). Nothing for an
// empty list.
std::optional<std::vector<ResolverAddress>> ParseServerList(std::string_view list);

// The address text of the answer to an A query for host, asked at the given resolvers (entries
// that name no resolver are skipped; at most the first three are used) or, for an empty list, at
// the system's resolvers (the "Resolvers" endpoint when set, else /etc/resolv.conf). Only the
// first answer record of an answer to exactly that question counts, and only with class IN and
// host as its owner (ddns/dns_query.h): an A record gives its address, a CNAME record is followed
// by a new query for its target at the system's resolvers (at most 8 times), whose answer must
// in turn be owned by that target; anything else gives the empty text, as does any failure.
std::string ResolveHostName(std::string_view host, std::string_view resolvers);

}  // namespace quarnel
