#pragma once

// Waitable notifications of network changes, and a one-shot timer, for WaitForHandles.
//
// A change handle watches from the moment it is returned. With a time-out of t milliseconds it
// fires only for a change that a wait takes within t + 1000 ms of its creation and never after
// that; a negative time-out watches without limit. Destroying the handle ends the watch.

#include <cstdint>

#include "platform/wait.h"

namespace quarnel {

enum class NetworkChangeKind {
    // An IPv4 address added to or removed from an interface (lifetime refreshes do not count).
    IPv4Address,
    // Any change of the IPv4 routing tables.
    IPv4Route,
    // As IPv4Address, and a global IPv6 address (2000::/3) that is not temporary added or
    // removed, or changing whether it is tentative, deprecated or a failed duplicate: what can
    // change the IPv6 address that is published.
    IPv4AndIPv6Address,
    // As IPv4Route, and any change of the main IPv6 routing table.
    IPv4AndIPv6Route,
    // An interface appearing, vanishing, being renamed or changing its up, running or carrier
    // state, or a DHCP client writing or removing a lease file.
    Configuration,
};

// Null when the kernel's notification channel cannot be opened.
WaitHandle CreateNetworkChangeHandle(NetworkChangeKind kind, std::int64_t timeoutMs);

// Fires once, milliseconds after its creation (at once for 0 or less), counting time spent in
// suspend. Null on failure.
WaitHandle CreateOneShotTimerHandle(std::int64_t milliseconds);

// Whether network configuration and its change notification are available here (rtnetlink can
// be used).
bool IsNetworkConfigurationAvailable();

}  // namespace quarnel
