#pragma once

// The wireless network (SSID) an interface is associated with, asked of the kernel's wireless
// configuration interface (nl80211).

#include <string>

namespace quarnel {

struct WirelessAssociation {
    // The nl80211 family could be reached; familyId is its number.
    bool familyResolved = false;
    int familyId = 0;
    // The interface exists; 0 when the name is unknown.
    int interfaceIndex = 0;
    // The kernel answered the interface query: the interface is a wireless one.
    bool interfaceAnswered = false;
    // The SSID came from the associated BSS of the last scan instead of the interface query.
    bool fromAssociatedBss = false;
    // The SSID bytes as the air carries them, at most 32; empty when not associated.
    std::string ssid;
    // Why the answer stopped short; empty when nothing went wrong.
    std::string problem;
};

WirelessAssociation QueryWirelessAssociation(const std::string& interfaceName);

}  // namespace quarnel
