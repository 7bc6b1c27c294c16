#include <windows.h>

#include "platform/network_capabilities.h"

namespace quarnel {
namespace {

// The optional system libraries, loaded from the system folder only.
bool HasFunction(const wchar_t* library, const char* function) {
    const HMODULE module = ::LoadLibraryExW(library, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    return module != nullptr && ::GetProcAddress(module, function) != nullptr;
}

}  // namespace

// The IP helper: adapters, addresses, routes and their change notifications.
bool IsNetlinkUsable() {
    return HasFunction(L"iphlpapi.dll", "NotifyAddrChange") &&
           HasFunction(L"iphlpapi.dll", "CancelIPChangeNotify");
}

// Native Wifi: the wireless identification.
bool IsNl80211Usable() {
    return HasFunction(L"wlanapi.dll", "WlanOpenHandle");
}

}  // namespace quarnel
