#pragma once

// Which of an interface's IPv6 addresses stands for the machine in its host name's AAAA record.

#include <string>
#include <vector>

#include "platform/network_info.h"

namespace quarnel {

// Only a global unicast address (2000::/3) that is neither temporary, deprecated, tentative nor
// a failed duplicate can be published: a temporary one is meant to change, a deprecated one is on
// its way out, the others are not the machine's (yet) or not reachable from outside. Among those
// left, a permanent or stable one (configured by hand, a stable-privacy identifier, or an EUI-64
// identifier made from the interface's hardware address) comes first, then the longest valid
// lifetime, then the lowest address, so the choice does not flip between two equal ones. The
// canonical text of the choice, or the empty text when none qualifies.
std::string ChooseIPv6Address(const std::vector<InterfaceIPv6Address>& addresses);

}  // namespace quarnel
