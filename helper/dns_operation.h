#pragma once

// The DnsQuery operation: one A query, request and answer as ddns/dns_query_wire.h describes.

#include <optional>
#include <string>
#include <string_view>

namespace quarnel {

// The encoded answer (also "no usable answer"); nothing only for a malformed request.
std::optional<std::string> RunDnsQueryOperation(std::string_view request);

}  // namespace quarnel
