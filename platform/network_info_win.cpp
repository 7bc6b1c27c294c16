#include <winsock2.h>
#include <ws2tcpip.h>
// In this order: the IP helper's headers need Winsock's (its IPv6 tables ws2ipdef.h's) and
// windows.h.
#include <iphlpapi.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/network_info.h"
#include "platform/winsock_win.h"

// Adapters come from GetAdaptersInfo: an adapter is named by its GUID text ("{...}"), the name
// its TCP/IP and wireless configuration use.

namespace quarnel {
namespace {

bool IsUsableAddress(const char* text) {
    return text != nullptr && text[0] != '\0' && std::string_view(text) != "0.0.0.0";
}

}  // namespace

NetworkSnapshot ReadNetworkSnapshot() {
    NetworkSnapshot snapshot;
    ULONG size = 16 * 1024;
    std::vector<unsigned char> buffer;
    DWORD result = ERROR_BUFFER_OVERFLOW;
    // The list may grow between the size query and the read: a few tries.
    for (int attempt = 0; attempt < 4 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
        buffer.resize(size);
        result = ::GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data()), &size);
    }
    if (result == ERROR_NO_DATA) {
        snapshot.complete = true;
        return snapshot;
    }
    if (result != ERROR_SUCCESS) {
        snapshot.problem = "GetAdaptersInfo failed with " + std::to_string(result);
        return snapshot;
    }
    for (auto* adapter = reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data()); adapter != nullptr;
         adapter = adapter->Next) {
        if (adapter->Type == MIB_IF_TYPE_LOOPBACK) {
            continue;
        }
        NetworkAdapter entry;
        entry.name = adapter->AdapterName;
        entry.index = static_cast<int>(adapter->Index);
        for (const IP_ADDR_STRING* address = &adapter->IpAddressList; address != nullptr;
             address = address->Next) {
            if (IsUsableAddress(address->IpAddress.String)) {
                entry.firstAddress = address->IpAddress.String;
                break;
            }
        }
        for (const IP_ADDR_STRING* gateway = &adapter->GatewayList; gateway != nullptr;
             gateway = gateway->Next) {
            if (IsUsableAddress(gateway->IpAddress.String)) {
                entry.firstGateway = gateway->IpAddress.String;
                break;
            }
        }
        snapshot.adapters.push_back(std::move(entry));
    }
    std::sort(snapshot.adapters.begin(), snapshot.adapters.end(),
              [](const NetworkAdapter& a, const NetworkAdapter& b) { return a.index < b.index; });
    // The default route of lowest metric, and the address of the adapter it leaves through.
    ULONG tableSize = 0;
    if (::GetIpForwardTable(nullptr, &tableSize, TRUE) == ERROR_INSUFFICIENT_BUFFER) {
        std::vector<unsigned char> table(tableSize);
        auto* routes = reinterpret_cast<MIB_IPFORWARDTABLE*>(table.data());
        if (::GetIpForwardTable(routes, &tableSize, TRUE) == NO_ERROR) {
            const MIB_IPFORWARDROW* best = nullptr;
            for (DWORD i = 0; i < routes->dwNumEntries; ++i) {
                const MIB_IPFORWARDROW& route = routes->table[i];
                if (route.dwForwardDest == 0 && route.dwForwardMask == 0 &&
                    (best == nullptr || route.dwForwardMetric1 < best->dwForwardMetric1)) {
                    best = &route;
                }
            }
            for (const NetworkAdapter& adapter : snapshot.adapters) {
                if (best != nullptr && adapter.index == static_cast<int>(best->dwForwardIfIndex)) {
                    snapshot.defaultRouteSource = adapter.firstAddress;
                }
            }
        }
    }
    snapshot.complete = true;
    return snapshot;
}

// IPv6 comes from the IP helper's tables: the default route of lowest metric
// (GetIpForwardTable2), then the unicast addresses of its interface (GetUnicastIpAddressTable)
// with their duplicate-detection state and origins as the address choice needs them.
IPv6DefaultRouteAddresses ReadIPv6DefaultRouteAddresses() {
    IPv6DefaultRouteAddresses result;
    MIB_IPFORWARD_TABLE2* routes = nullptr;
    if (const DWORD error = ::GetIpForwardTable2(AF_INET6, &routes); error != NO_ERROR) {
        result.problem = "GetIpForwardTable2 failed with " + std::to_string(error);
        return result;
    }
    const MIB_IPFORWARD_ROW2* best = nullptr;
    for (ULONG i = 0; i < routes->NumEntries; ++i) {
        const MIB_IPFORWARD_ROW2& route = routes->Table[i];
        if (route.DestinationPrefix.PrefixLength == 0 &&
            (best == nullptr || route.Metric < best->Metric)) {
            best = &route;
        }
    }
    const NET_IFINDEX index = best != nullptr ? best->InterfaceIndex : 0;
    ::FreeMibTable(routes);
    if (index == 0) {
        result.complete = true;  // no IPv6 default route
        return result;
    }
    MIB_UNICASTIPADDRESS_TABLE* addresses = nullptr;
    if (const DWORD error = ::GetUnicastIpAddressTable(AF_INET6, &addresses); error != NO_ERROR) {
        result.problem = "GetUnicastIpAddressTable failed with " + std::to_string(error);
        return result;
    }
    result.adapter = "interface " + std::to_string(index);  // only the log shows it
    for (ULONG i = 0; i < addresses->NumEntries; ++i) {
        const MIB_UNICASTIPADDRESS_ROW& row = addresses->Table[i];
        if (row.InterfaceIndex != index || row.Address.si_family != AF_INET6) {
            continue;
        }
        InterfaceIPv6Address entry;
        std::copy(std::begin(row.Address.Ipv6.sin6_addr.u.Byte),
                  std::end(row.Address.Ipv6.sin6_addr.u.Byte), entry.bytes.begin());
        entry.temporary = row.SuffixOrigin == IpSuffixOriginRandom;
        entry.deprecated = row.DadState == IpDadStateDeprecated;
        entry.tentative = row.DadState == IpDadStateTentative;
        entry.duplicate = row.DadState == IpDadStateDuplicate;
        entry.permanent = row.PrefixOrigin == IpPrefixOriginManual;
        entry.validLifetime = row.ValidLifetime;  // 0xffffffff: infinite
        result.addresses.push_back(entry);
    }
    ::FreeMibTable(addresses);
    result.complete = true;
    return result;
}

std::vector<std::uint32_t> ResolveHostNameIPv4(std::string& problem) {
    std::vector<std::uint32_t> addresses;
    if (!WinsockReady()) {
        problem = "Winsock cannot be started";
        return addresses;
    }
    char name[256] = {};
    if (::gethostname(name, sizeof name) != 0) {
        problem = "gethostname failed with " + std::to_string(::WSAGetLastError());
        return addresses;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int result = ::getaddrinfo(name, nullptr, &hints, &found);
    if (result != 0) {
        problem = "the host name " + std::string(name) + " does not resolve (" +
                  std::to_string(result) + ")";
        return addresses;
    }
    for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
        const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ai_addr);
        addresses.push_back(address->sin_addr.s_addr);
    }
    ::freeaddrinfo(found);
    return addresses;
}

}  // namespace quarnel
