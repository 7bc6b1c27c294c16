#include <linux/if_addr.h>
#include <net/if.h>
#include <netdb.h>
#include <netlink/netlink.h>
#include <netlink/route/addr.h>
#include <netlink/route/link.h>
#include <netlink/route/route.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/network_info.h"

namespace quarnel {
namespace {

struct SocketDeleter {
    void operator()(nl_sock* sock) const { nl_socket_free(sock); }
};
struct CacheDeleter {
    void operator()(nl_cache* cache) const { nl_cache_free(cache); }
};
using NetlinkSocket = std::unique_ptr<nl_sock, SocketDeleter>;
using NetlinkCache = std::unique_ptr<nl_cache, CacheDeleter>;

// A dump that the kernel marks as interrupted (the table changed while it was read) is read
// again; after a few tries the last error stands.
constexpr int kDumpAttempts = 4;

template <typename Allocate>
NetlinkCache AllocateCache(Allocate allocate, std::string& problem, const char* what) {
    int error = 0;
    for (int attempt = 0; attempt < kDumpAttempts; ++attempt) {
        nl_cache* cache = nullptr;
        error = allocate(&cache);
        if (error >= 0) {
            return NetlinkCache(cache);
        }
        if (error != -NLE_DUMP_INTR) {
            break;
        }
    }
    problem = std::string("rtnetlink ") + what + " dump failed: " + nl_geterror(error);
    return nullptr;
}

// Four address bytes in network order, the first number in the lowest byte.
std::uint32_t PackBytes(const std::uint8_t* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

std::optional<std::uint32_t> IPv4Of(nl_addr* address) {
    if (address == nullptr || nl_addr_get_family(address) != AF_INET ||
        nl_addr_get_len(address) != 4) {
        return std::nullopt;
    }
    return PackBytes(static_cast<const std::uint8_t*>(nl_addr_get_binary_addr(address)));
}

std::string DottedText(std::uint32_t packed) {
    std::string text;
    for (int i = 0; i < 4; ++i) {
        if (i > 0) {
            text += '.';
        }
        text += std::to_string((packed >> (8 * i)) & 0xFFu);
    }
    return text;
}

// Packed addresses hold the first number in the lowest byte, so masks are built the same way.
std::uint32_t PackedMask(int prefixLength) {
    if (prefixLength <= 0) {
        return 0;
    }
    const std::uint32_t hostOrder =
        prefixLength >= 32 ? 0xFFFFFFFFu : ~(0xFFFFFFFFu >> prefixLength);
    std::uint32_t packed = 0;
    for (int i = 0; i < 4; ++i) {
        packed |= ((hostOrder >> (24 - 8 * i)) & 0xFFu) << (8 * i);
    }
    return packed;
}

struct InterfaceAddress {
    int index = 0;
    std::uint32_t local = 0;
    int prefixLength = 0;
    bool secondary = false;
    int scope = 0;
};

struct DefaultRoute {
    std::uint32_t priority = 0;
    int index = 0;
    std::optional<std::uint32_t> gateway;
    std::optional<std::uint32_t> preferredSource;
};

std::vector<InterfaceAddress> ReadAddresses(nl_cache* cache) {
    std::vector<InterfaceAddress> addresses;
    for (nl_object* object = nl_cache_get_first(cache); object != nullptr;
         object = nl_cache_get_next(object)) {
        auto* address = reinterpret_cast<rtnl_addr*>(object);
        if (rtnl_addr_get_family(address) != AF_INET) {
            continue;
        }
        const auto local = IPv4Of(rtnl_addr_get_local(address));
        if (!local) {
            continue;
        }
        addresses.push_back(
            {rtnl_addr_get_ifindex(address), *local, rtnl_addr_get_prefixlen(address),
             (rtnl_addr_get_flags(address) & IFA_F_SECONDARY) != 0, rtnl_addr_get_scope(address)});
    }
    return addresses;
}

bool IsDefaultRoute(rtnl_route* route, int family) {
    nl_addr* destination = rtnl_route_get_dst(route);
    return rtnl_route_get_family(route) == family && rtnl_route_get_table(route) == RT_TABLE_MAIN &&
           rtnl_route_get_type(route) == RTN_UNICAST &&
           (destination == nullptr || nl_addr_get_prefixlen(destination) == 0);
}

// Default routes of the main table, one entry per next hop, lowest metric first; routes of the
// same metric keep the kernel's order.
std::vector<DefaultRoute> ReadDefaultRoutes(nl_cache* cache) {
    std::vector<DefaultRoute> routes;
    for (nl_object* object = nl_cache_get_first(cache); object != nullptr;
         object = nl_cache_get_next(object)) {
        auto* route = reinterpret_cast<rtnl_route*>(object);
        if (!IsDefaultRoute(route, AF_INET)) {
            continue;
        }
        const auto preferred = IPv4Of(rtnl_route_get_pref_src(route));
        const int hops = rtnl_route_get_nnexthops(route);
        for (int i = 0; i < hops; ++i) {
            rtnl_nexthop* hop = rtnl_route_nexthop_n(route, i);
            if (hop == nullptr) {
                continue;
            }
            routes.push_back({rtnl_route_get_priority(route), rtnl_route_nh_get_ifindex(hop),
                              IPv4Of(rtnl_route_nh_get_gateway(hop)), preferred});
        }
    }
    std::stable_sort(
        routes.begin(), routes.end(),
        [](const DefaultRoute& a, const DefaultRoute& b) { return a.priority < b.priority; });
    return routes;
}

// The source the kernel picks for a route without a preferred source: the interface's primary
// address whose subnet holds the gateway, else its first primary address of global scope.
std::optional<std::uint32_t> SourceFor(const DefaultRoute& route,
                                       const std::vector<InterfaceAddress>& addresses) {
    if (route.preferredSource) {
        return route.preferredSource;
    }
    std::optional<std::uint32_t> fallback;
    for (const InterfaceAddress& address : addresses) {
        if (address.index != route.index || address.secondary) {
            continue;
        }
        const std::uint32_t mask = PackedMask(address.prefixLength);
        if (route.gateway && (address.local & mask) == (*route.gateway & mask)) {
            return address.local;
        }
        if (!fallback && address.scope == RT_SCOPE_UNIVERSE) {
            fallback = address.local;
        }
    }
    return fallback;
}

NetlinkSocket ConnectRouteSocket(std::string& problem) {
    NetlinkSocket sock(nl_socket_alloc());
    if (!sock) {
        problem = "rtnetlink socket could not be allocated";
        return nullptr;
    }
    if (const int error = nl_connect(sock.get(), NETLINK_ROUTE); error < 0) {
        problem = std::string("rtnetlink connect failed: ") + nl_geterror(error);
        return nullptr;
    }
    return sock;
}

// The interface of the IPv6 default route of lowest metric (the kernel's order among equals);
// 0 without one.
int IPv6DefaultRouteInterface(nl_cache* cache) {
    int index = 0;
    std::uint32_t lowest = 0;
    for (nl_object* object = nl_cache_get_first(cache); object != nullptr;
         object = nl_cache_get_next(object)) {
        auto* route = reinterpret_cast<rtnl_route*>(object);
        if (!IsDefaultRoute(route, AF_INET6) || rtnl_route_get_nnexthops(route) < 1) {
            continue;
        }
        rtnl_nexthop* hop = rtnl_route_nexthop_n(route, 0);
        const int hopIndex = hop != nullptr ? rtnl_route_nh_get_ifindex(hop) : 0;
        if (hopIndex > 0 && (index == 0 || rtnl_route_get_priority(route) < lowest)) {
            index = hopIndex;
            lowest = rtnl_route_get_priority(route);
        }
    }
    return index;
}

InterfaceIPv6Address IPv6AddressOf(rtnl_addr* address, nl_addr* local) {
    InterfaceIPv6Address entry;
    const auto* bytes = static_cast<const std::uint8_t*>(nl_addr_get_binary_addr(local));
    std::copy(bytes, bytes + entry.bytes.size(), entry.bytes.begin());
    const unsigned flags = rtnl_addr_get_flags(address);
    entry.temporary = (flags & IFA_F_TEMPORARY) != 0;
    entry.deprecated = (flags & IFA_F_DEPRECATED) != 0;
    entry.tentative = (flags & IFA_F_TENTATIVE) != 0;
    entry.duplicate = (flags & IFA_F_DADFAILED) != 0;
    entry.permanent = (flags & IFA_F_PERMANENT) != 0;
    entry.stablePrivacy = (flags & IFA_F_STABLE_PRIVACY) != 0;
    entry.validLifetime = rtnl_addr_get_valid_lifetime(address);
    return entry;
}

}  // namespace

IPv6DefaultRouteAddresses ReadIPv6DefaultRouteAddresses() {
    IPv6DefaultRouteAddresses result;
    NetlinkSocket sock = ConnectRouteSocket(result.problem);
    if (!sock) {
        return result;
    }
    nl_sock* raw = sock.get();
    NetlinkCache routes = AllocateCache(
        [raw](nl_cache** out) { return rtnl_route_alloc_cache(raw, AF_INET6, 0, out); },
        result.problem, "IPv6 route");
    if (!routes) {
        return result;
    }
    const int index = IPv6DefaultRouteInterface(routes.get());
    char name[IF_NAMESIZE] = {};
    if (index == 0 || ::if_indextoname(static_cast<unsigned>(index), name) == nullptr) {
        // No IPv6 default route, or its interface vanished meanwhile: no IPv6 connectivity.
        result.complete = true;
        return result;
    }
    NetlinkCache addresses =
        AllocateCache([raw](nl_cache** out) { return rtnl_addr_alloc_cache(raw, out); },
                      result.problem, "address");
    if (!addresses) {
        return result;
    }
    result.adapter = name;
    for (nl_object* object = nl_cache_get_first(addresses.get()); object != nullptr;
         object = nl_cache_get_next(object)) {
        auto* address = reinterpret_cast<rtnl_addr*>(object);
        nl_addr* local = rtnl_addr_get_local(address);
        if (rtnl_addr_get_family(address) != AF_INET6 || rtnl_addr_get_ifindex(address) != index ||
            local == nullptr || nl_addr_get_len(local) != 16) {
            continue;
        }
        result.addresses.push_back(IPv6AddressOf(address, local));
    }
    result.complete = true;
    return result;
}

NetworkSnapshot ReadNetworkSnapshot() {
    NetworkSnapshot snapshot;
    NetlinkSocket sock = ConnectRouteSocket(snapshot.problem);
    if (!sock) {
        return snapshot;
    }
    nl_sock* raw = sock.get();
    NetlinkCache links =
        AllocateCache([raw](nl_cache** out) { return rtnl_link_alloc_cache(raw, AF_UNSPEC, out); },
                      snapshot.problem, "link");
    if (!links) {
        return snapshot;
    }
    NetlinkCache addressCache =
        AllocateCache([raw](nl_cache** out) { return rtnl_addr_alloc_cache(raw, out); },
                      snapshot.problem, "address");
    if (!addressCache) {
        return snapshot;
    }
    NetlinkCache routeCache = AllocateCache(
        [raw](nl_cache** out) { return rtnl_route_alloc_cache(raw, AF_INET, 0, out); },
        snapshot.problem, "route");
    if (!routeCache) {
        return snapshot;
    }

    const std::vector<InterfaceAddress> addresses = ReadAddresses(addressCache.get());
    const std::vector<DefaultRoute> routes = ReadDefaultRoutes(routeCache.get());

    for (nl_object* object = nl_cache_get_first(links.get()); object != nullptr;
         object = nl_cache_get_next(object)) {
        auto* link = reinterpret_cast<rtnl_link*>(object);
        const char* name = rtnl_link_get_name(link);
        if ((rtnl_link_get_flags(link) & IFF_LOOPBACK) != 0 || name == nullptr) {
            continue;
        }
        NetworkAdapter adapter;
        adapter.name = name;
        adapter.index = rtnl_link_get_ifindex(link);
        for (const InterfaceAddress& address : addresses) {
            if (address.index == adapter.index) {
                adapter.firstAddress = DottedText(address.local);
                break;
            }
        }
        for (const DefaultRoute& route : routes) {
            if (route.index == adapter.index && route.gateway) {
                adapter.firstGateway = DottedText(*route.gateway);
                break;
            }
        }
        snapshot.adapters.push_back(std::move(adapter));
    }
    std::stable_sort(
        snapshot.adapters.begin(), snapshot.adapters.end(),
        [](const NetworkAdapter& a, const NetworkAdapter& b) { return a.index < b.index; });
    for (const DefaultRoute& route : routes) {
        if (const auto source = SourceFor(route, addresses)) {
            snapshot.defaultRouteSource = DottedText(*source);
            break;
        }
    }
    snapshot.complete = true;
    return snapshot;
}

std::vector<std::uint32_t> ResolveHostNameIPv4(std::string& problem) {
    std::vector<std::uint32_t> result;
    char name[HOST_NAME_MAX + 1] = {};
    if (::gethostname(name, sizeof name - 1) != 0) {
        problem = "the host name could not be read";
        return result;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (const int error = ::getaddrinfo(name, nullptr, &hints, &found); error != 0) {
        problem =
            std::string("resolving the host name ") + name + " failed: " + gai_strerror(error);
        return result;
    }
    for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
        if (entry->ai_family != AF_INET || entry->ai_addrlen < sizeof(sockaddr_in)) {
            continue;
        }
        const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ai_addr);
        result.push_back(PackBytes(reinterpret_cast<const std::uint8_t*>(&address->sin_addr)));
    }
    ::freeaddrinfo(found);
    return result;
}

}  // namespace quarnel
