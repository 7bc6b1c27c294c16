#include "libraries/src/adapter/change_events.h"

#include "platform/network_change.h"

namespace quarnel {

WaitHandle AddressChangeEvent(std::int64_t timeoutMs, bool withIPv6) {
    return CreateNetworkChangeHandle(
        withIPv6 ? NetworkChangeKind::IPv4AndIPv6Address : NetworkChangeKind::IPv4Address,
        timeoutMs);
}

WaitHandle RouteChangeEvent(std::int64_t timeoutMs, bool withIPv6) {
    return CreateNetworkChangeHandle(
        withIPv6 ? NetworkChangeKind::IPv4AndIPv6Route : NetworkChangeKind::IPv4Route, timeoutMs);
}

WaitHandle NetworkConfigurationChangeEvent(std::int64_t timeoutMs) {
    return CreateNetworkChangeHandle(NetworkChangeKind::Configuration, timeoutMs);
}

WaitHandle TimerEvent(std::int64_t milliseconds) {
    return CreateOneShotTimerHandle(milliseconds);
}

}  // namespace quarnel
