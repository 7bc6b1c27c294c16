#pragma once

// The network filter: updates run only on networks the user approved. A local network is named
// by its adapter's DHCP domain, else its default gateway's address; a wireless network by its
// SSID. Both lists live in the settings (LocalNetworks, WirelessNetworks), each switched on by
// its own value (LocalFilter, WirelessFilter).

#include <cstdint>
#include <string>

namespace quarnel {

// The identifier of the current local network; empty when the primary adapter has no gateway.
std::string GetNetwork();

// 0 when an active filter forbids updating on the current network; otherwise not 0 (1 when no
// filter looked, else the 1-based position in the list text of the entry that matched). A
// network that cannot be identified passes; the wireless filter is consulted only when the
// local one allowed the update.
std::int64_t TestNetwork();

}  // namespace quarnel
