#include "libraries/src/adapter/wlan_identifier.h"

#include <cstddef>

#include "diagnostics/log.h"
#include "libraries/src/adapter/adapter.h"
#include "platform/global_handles.h"
#include "platform/text.h"
#include "platform/wireless.h"

namespace quarnel {

std::string SsidBytesToText(std::string_view bytes) {
    const std::size_t end = bytes.find('\0');
    if (end != std::string_view::npos) {
        bytes = bytes.substr(0, end);
    }
    // Valid UTF-8 survives the round trip unchanged; anything else comes back altered.
    if (Utf16ToUtf8(Utf8ToUtf16(bytes)) == bytes) {
        return std::string(bytes);
    }
    std::string text;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            text += c;
        } else {
            text += static_cast<char>(0xC0 | (byte >> 6));
            text += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return text;
}

std::string GetWLANIdentifier(std::string_view guid) {
    std::string ssid;
    // The wireless interface was found at start-up, or it is not used at all.
    if (globalHandles.nl80211Usable && !guid.empty()) {
        const WirelessAssociation association = QueryWirelessAssociation(std::string(guid));
        if (association.familyResolved) {
            QLOG(kLogTrace, "GetWLANIdentifier",
                 "nl80211 family = " + std::to_string(association.familyId));
        }
        if (association.interfaceIndex != 0) {
            QLOG(kLogTrace, "GetWLANIdentifier",
                 "Interface index = " + std::to_string(association.interfaceIndex));
        }
        if (association.interfaceAnswered) {
            QLOG(kLogTrace, "GetWLANIdentifier", "nl80211 interface query successful");
            if (association.fromAssociatedBss) {
                QLOG(kLogTrace, "GetWLANIdentifier", "SSID taken from the associated BSS");
            }
            QLOG(kLogTrace, "GetWLANIdentifier",
                 "uSSIDLength = " + std::to_string(association.ssid.size()));
            if (!association.ssid.empty()) {
                ssid = SsidBytesToText(association.ssid);
            }
        }
        if (!association.problem.empty()) {
            QLOG(kLogTrace, "GetWLANIdentifier", association.problem);
        }
    }
    QLOG(kLogTrace, "GetWLANIdentifier", "SSID = " + ssid);
    return ssid;
}

std::string GetGatewayWLANIdentifier() {
    const std::string guid = GetAdapterGUID();
    QLOG(kLogTrace, "GetGatewayWLANIdentifier", "GUID = " + guid);
    std::string ssid;
    if (!guid.empty()) {
        ssid = GetWLANIdentifier(guid);
    }
    QLOG(kLogTrace, "GetGatewayWLANIdentifier", "GetGatewayWLANIdentifier = " + ssid);
    return ssid;
}

}  // namespace quarnel
