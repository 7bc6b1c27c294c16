#pragma once

// Which adapter carries the machine's primary IPv4 address, and its default gateway. An
// adapter's identifier (its "GUID" in the procedure names) is its interface name. Every
// procedure writes TRACE lines under its own name and reports nothing else: failure is an
// empty answer.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quarnel {

struct AdapterInfo {
    std::string adapterName;
    // Dotted text of the adapter's first IPv4 address; empty when it has none.
    std::string ipAddress;
    // Dotted text of its first default gateway; empty when it has none.
    std::string gatewayAddress;
};

// The adapter named guid (exact, case-sensitive), or with an empty guid the adapter whose first
// IPv4 address is the primary address.
std::optional<AdapterInfo> GetAdapterInfo(std::string_view guid);
// The name of the adapter that carries the primary address, or empty.
std::string GetAdapterGUID();
// The first gateway of that adapter, or empty.
std::string GetGatewayIPAddress();
// The n-th (from 1) primary IPv4 address, packed as FormatIPAddress reads it, or 0. The first
// is the source address of the default route; host-name resolution (without 127.0.0.0/8)
// supplies the rest, or all of them when there is no default route.
std::uint32_t GetPrimaryIPAddress(int n);

}  // namespace quarnel
