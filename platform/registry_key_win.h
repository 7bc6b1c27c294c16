#pragma once

// Windows only: where a key of the registry store lies in the real registry. Normally a hive is
// the system's own; with QUARNEL_ROOT set (tests), each hive is a key of its own below
// HKEY_CURRENT_USER\Software\Quarnel Updater Test Roots\<root>, so that a test gets a fresh,
// private registry as it gets a fresh folder tree on Linux.

#include <windows.h>

#include <string>
#include <string_view>

#include "platform/registry_store.h"

namespace quarnel::registry_store {

struct KeyLocation {
    HKEY root = nullptr;
    std::wstring path;  // below root; may be empty (the hive itself)
};

// Empty path components (a doubled, leading or trailing backslash) make no key: false.
bool LocateKey(RegistryHive hive, std::string_view keyPath, KeyLocation& location);

}  // namespace quarnel::registry_store
