#pragma once

// The machine's IPv4 adapters, addresses and default routes as the kernel reports them, and the
// IPv6 addresses of the interface its IPv6 default route leaves through. An adapter is
// identified by its interface name (for example "wlp3s0").

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace quarnel {

struct NetworkAdapter {
    std::string name;
    int index = 0;
    // Dotted text of the adapter's first IPv4 address; empty when it has none.
    std::string firstAddress;
    // Dotted text of the gateway of the adapter's first IPv4 default route (lowest metric
    // first); empty when no default route with a gateway leaves through it.
    std::string firstGateway;
};

struct NetworkSnapshot {
    // False when the kernel could not be asked; problem then says why.
    bool complete = false;
    std::string problem;
    // Every interface except loopback, in interface-index order.
    std::vector<NetworkAdapter> adapters;
    // The address the kernel uses as source on the IPv4 default route of lowest metric (its
    // preferred source, else the adapter address that fits the gateway); empty without one.
    std::string defaultRouteSource;
};

// One read of links, addresses and routes. Interfaces that vanish while it runs are left out.
NetworkSnapshot ReadNetworkSnapshot();

// One IPv6 address of an interface with the kernel's flags as plain facts; which one to publish
// is decided elsewhere (ddns/ipv6_choice.h).
struct InterfaceIPv6Address {
    std::array<std::uint8_t, 16> bytes{};  // network order
    bool temporary = false;                // a privacy-extension address
    bool deprecated = false;               // its preferred lifetime is over
    bool tentative = false;                // duplicate detection has not finished
    bool duplicate = false;                // duplicate detection failed
    bool permanent = false;                // configured by hand, without lifetimes
    bool stablePrivacy = false;            // its interface identifier is stable (RFC 7217)
    std::uint32_t validLifetime = 0;       // seconds left; kForeverLifetime for none
};
inline constexpr std::uint32_t kForeverLifetime = 0xFFFFFFFF;

struct IPv6DefaultRouteAddresses {
    // False when the kernel could not be asked; problem then says why.
    bool complete = false;
    std::string problem;
    // The interface of the IPv6 default route of lowest metric (main table); empty without one.
    std::string adapter;
    // Every IPv6 address of that interface, in the kernel's order.
    std::vector<InterfaceIPv6Address> addresses;
};

// One read of the IPv6 default routes and addresses.
IPv6DefaultRouteAddresses ReadIPv6DefaultRouteAddresses();

// The IPv4 addresses that resolving the machine's own host name gives, in order, packed with
// the first number in the lowest byte. problem tells why the list is empty when it could not be
// obtained.
std::vector<std::uint32_t> ResolveHostNameIPv4(std::string& problem);

}  // namespace quarnel
