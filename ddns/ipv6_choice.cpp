#include "ddns/ipv6_choice.h"

#include <tuple>

#include "ddns/ip_address.h"

namespace quarnel {
namespace {

bool Publishable(const InterfaceIPv6Address& address) {
    return IsGlobalUnicastIPv6(address.bytes) && !address.temporary && !address.deprecated &&
           !address.tentative && !address.duplicate;
}

// An interface identifier built from a MAC address carries ff:fe in its middle.
bool HasEui64Identifier(const InterfaceIPv6Address& address) {
    return address.bytes[11] == 0xFF && address.bytes[12] == 0xFE;
}

bool Stable(const InterfaceIPv6Address& address) {
    return address.permanent || address.stablePrivacy || HasEui64Identifier(address);
}

// Greater is better.
auto Rank(const InterfaceIPv6Address& address) {
    return std::make_tuple(Stable(address), address.validLifetime);
}

}  // namespace

std::string ChooseIPv6Address(const std::vector<InterfaceIPv6Address>& addresses) {
    const InterfaceIPv6Address* best = nullptr;
    for (const InterfaceIPv6Address& address : addresses) {
        if (!Publishable(address)) {
            continue;
        }
        if (best == nullptr || Rank(address) > Rank(*best) ||
            (Rank(address) == Rank(*best) && address.bytes < best->bytes)) {
            best = &address;
        }
    }
    return best != nullptr ? FormatIPv6Address(best->bytes) : std::string();
}

}  // namespace quarnel
