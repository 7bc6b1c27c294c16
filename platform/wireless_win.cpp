#include <windows.h>
// After windows.h, which it needs.
#include <objbase.h>
#include <wlanapi.h>

#include <string>

#include "platform/wide_text_win.h"
#include "platform/wireless.h"

// Native Wifi, loaded at run time from the system folder: a machine without the wireless service
// (a server, Wine) simply has no wireless networks.

namespace quarnel {
namespace {

struct Wlan {
    decltype(&::WlanOpenHandle) open = nullptr;
    decltype(&::WlanCloseHandle) close = nullptr;
    decltype(&::WlanQueryInterface) query = nullptr;
    decltype(&::WlanFreeMemory) free = nullptr;
};

const Wlan* LoadWlan() {
    static const Wlan wlan = [] {
        Wlan loaded;
        const HMODULE module =
            ::LoadLibraryExW(L"wlanapi.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (module == nullptr) {
            return loaded;
        }
        loaded.open = reinterpret_cast<decltype(&::WlanOpenHandle)>(
            reinterpret_cast<void*>(::GetProcAddress(module, "WlanOpenHandle")));
        loaded.close = reinterpret_cast<decltype(&::WlanCloseHandle)>(
            reinterpret_cast<void*>(::GetProcAddress(module, "WlanCloseHandle")));
        loaded.query = reinterpret_cast<decltype(&::WlanQueryInterface)>(
            reinterpret_cast<void*>(::GetProcAddress(module, "WlanQueryInterface")));
        loaded.free = reinterpret_cast<decltype(&::WlanFreeMemory)>(
            reinterpret_cast<void*>(::GetProcAddress(module, "WlanFreeMemory")));
        return loaded;
    }();
    return wlan.open && wlan.close && wlan.query && wlan.free ? &wlan : nullptr;
}

}  // namespace

// The interface is named by its adapter GUID text.
WirelessAssociation QueryWirelessAssociation(const std::string& interfaceName) {
    WirelessAssociation association;
    const Wlan* wlan = LoadWlan();
    if (wlan == nullptr) {
        association.problem = "Native Wifi (wlanapi.dll) is not available";
        return association;
    }
    GUID guid{};
    if (::CLSIDFromString(Widen(interfaceName).c_str(), &guid) != NOERROR) {
        association.problem = "no adapter GUID: " + interfaceName;
        return association;
    }
    DWORD version = 0;
    HANDLE client = nullptr;
    const DWORD opened = wlan->open(2, nullptr, &version, &client);
    if (opened != ERROR_SUCCESS) {
        association.problem = "WlanOpenHandle failed with " + std::to_string(opened);
        return association;
    }
    association.familyResolved = true;
    association.familyId = static_cast<int>(version);
    association.interfaceIndex = 1;
    DWORD size = 0;
    void* data = nullptr;
    const DWORD queried = wlan->query(client, &guid, wlan_intf_opcode_current_connection, nullptr,
                                      &size, &data, nullptr);
    if (queried == ERROR_SUCCESS && data != nullptr && size >= sizeof(WLAN_CONNECTION_ATTRIBUTES)) {
        association.interfaceAnswered = true;
        const auto* connection = static_cast<const WLAN_CONNECTION_ATTRIBUTES*>(data);
        const DOT11_SSID& ssid = connection->wlanAssociationAttributes.dot11Ssid;
        if (connection->isState == wlan_interface_state_connected) {
            association.ssid.assign(reinterpret_cast<const char*>(ssid.ucSSID),
                                    ssid.uSSIDLength > 32 ? 32 : ssid.uSSIDLength);
        }
    } else if (queried != ERROR_SUCCESS) {
        association.problem = "WlanQueryInterface failed with " + std::to_string(queried);
    }
    if (data != nullptr) {
        wlan->free(data);
    }
    wlan->close(client, nullptr);
    return association;
}

}  // namespace quarnel
