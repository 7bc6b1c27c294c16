#include "libraries/src/adapter/adapter.h"

#include <algorithm>
#include <cstddef>
#include <vector>

#include "ddns/ip_address.h"
#include "diagnostics/log.h"
#include "platform/network_info.h"

namespace quarnel {
namespace {

bool IsLoopback(std::uint32_t packed) {
    return (packed & 0xFFu) == 127;
}

// GetPrimaryIPAddress on a snapshot the caller has read; n is at least 1.
std::uint32_t PrimaryIPAddressIn(const NetworkSnapshot& snapshot, int n) {
    std::vector<std::uint32_t> addresses;
    if (!snapshot.complete) {
        QLOG(kLogTrace, "GetPrimaryIPAddress", snapshot.problem);
    } else if (!snapshot.defaultRouteSource.empty()) {
        const std::uint32_t source = ParseIPAddress(snapshot.defaultRouteSource);
        if (source != 0 && !IsLoopback(source)) {
            QLOG(kLogTrace, "GetPrimaryIPAddress",
                 "Default route source = " + snapshot.defaultRouteSource);
            addresses.push_back(source);
        }
    }
    // Resolving the host name is the fall-back only: on Debian it gives 127.0.1.1, and where it
    // is not in the hosts file it asks the DNS.
    if (addresses.size() < static_cast<std::size_t>(n)) {
        std::string problem;
        for (const std::uint32_t address : ResolveHostNameIPv4(problem)) {
            if (!IsLoopback(address) &&
                std::find(addresses.begin(), addresses.end(), address) == addresses.end()) {
                addresses.push_back(address);
            }
        }
        if (!problem.empty()) {
            QLOG(kLogTrace, "GetPrimaryIPAddress", problem);
        }
    }
    const std::uint32_t result = addresses.size() >= static_cast<std::size_t>(n)
                                     ? addresses[static_cast<std::size_t>(n - 1)]
                                     : 0;
    QLOG(kLogTrace, "GetPrimaryIPAddress", "GetPrimaryIPAddress = " + FormatIPAddress(result));
    return result;
}

}  // namespace

std::uint32_t GetPrimaryIPAddress(int n) {
    return n < 1 ? 0 : PrimaryIPAddressIn(ReadNetworkSnapshot(), n);
}

std::optional<AdapterInfo> GetAdapterInfo(std::string_view guid) {
    QLOG(kLogTrace, "GetAdapterInfo", "GUID = " + std::string(guid));
    // One read of the kernel's tables serves the primary address and the adapter search alike.
    const NetworkSnapshot snapshot = ReadNetworkSnapshot();
    std::string primary;
    if (guid.empty()) {
        primary = FormatIPAddress(PrimaryIPAddressIn(snapshot, 1));
    }
    QLOG(kLogTrace, "GetAdapterInfo", "IPAddress = " + primary);
    if (!snapshot.complete) {
        QLOG(kLogTrace, "GetAdapterInfo", snapshot.problem);
        return std::nullopt;
    }
    for (const NetworkAdapter& adapter : snapshot.adapters) {
        if (guid.empty()) {
            if (adapter.firstAddress == primary) {
                QLOG(kLogTrace, "GetAdapterInfo", "Found adapter with IPAddress = " + primary);
                return AdapterInfo{adapter.name, adapter.firstAddress, adapter.firstGateway};
            }
        } else if (adapter.name == guid) {
            QLOG(kLogTrace, "GetAdapterInfo", "Found adapter with GUID = " + std::string(guid));
            return AdapterInfo{adapter.name, adapter.firstAddress, adapter.firstGateway};
        }
    }
    return std::nullopt;
}

std::string GetAdapterGUID() {
    std::string guid;
    if (const auto info = GetAdapterInfo({})) {
        guid = info->adapterName;
    }
    QLOG(kLogTrace, "GetAdapterGUID", "GetAdapterGUID = " + guid);
    return guid;
}

std::string GetGatewayIPAddress() {
    std::string gateway;
    if (const auto info = GetAdapterInfo({})) {
        gateway = info->gatewayAddress;
    }
    QLOG(kLogTrace, "GetGatewayIPAddress", "GetGatewayIPAddress = " + gateway);
    return gateway;
}

}  // namespace quarnel
