#pragma once

// The waitable handles the change watcher builds its wait from. Each is null on failure and
// fires at most once per change; with a time-out of t milliseconds a change handle fires only
// within t + 1000 ms of its creation, and -1 means no limit. Closing a handle (CloseWaitHandle)
// ends its notification.

#include <cstdint>

#include "platform/wait.h"

namespace quarnel {

// An IPv4 address was added to or removed from an interface; withIPv6 also a change of the
// global IPv6 addresses that decide which one is published (platform/network_change.h).
WaitHandle AddressChangeEvent(std::int64_t timeoutMs, bool withIPv6 = false);
// The IPv4 routing tables changed; withIPv6 also the main IPv6 table.
WaitHandle RouteChangeEvent(std::int64_t timeoutMs, bool withIPv6 = false);
// The network configuration changed: an interface appeared, vanished, was renamed or changed
// its up, running or carrier state, or a DHCP client wrote or removed a lease.
WaitHandle NetworkConfigurationChangeEvent(std::int64_t timeoutMs);
// A one-shot timer due after milliseconds (at once for 0 or less).
WaitHandle TimerEvent(std::int64_t milliseconds);

}  // namespace quarnel
