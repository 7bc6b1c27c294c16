#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/paths.h"
#include "platform/registry_key_win.h"
#include "platform/text.h"
#include "platform/wide_text_win.h"

namespace quarnel::registry_store {
namespace {

constexpr std::size_t kMaximumValueBytes = 16u << 20;

const char* HiveName(RegistryHive hive) {
    switch (hive) {
        case RegistryHive::ClassesRoot:
            return "HKEY_CLASSES_ROOT";
        case RegistryHive::CurrentUser:
            return "HKEY_CURRENT_USER";
        case RegistryHive::LocalMachine:
            return "HKEY_LOCAL_MACHINE";
    }
    return "";
}

HKEY SystemHive(RegistryHive hive) {
    switch (hive) {
        case RegistryHive::ClassesRoot:
            return HKEY_CLASSES_ROOT;
        case RegistryHive::CurrentUser:
            return HKEY_CURRENT_USER;
        case RegistryHive::LocalMachine:
            return HKEY_LOCAL_MACHINE;
    }
    return nullptr;
}

bool ValidKeyPath(std::string_view keyPath) {
    if (keyPath.empty()) {
        return true;
    }
    return keyPath.front() != '\\' && keyPath.back() != '\\' &&
           keyPath.find("\\\\") == std::string_view::npos;
}

class OpenKey {
  public:
    OpenKey(RegistryHive hive, std::string_view keyPath, REGSAM access) {
        KeyLocation location;
        if (LocateKey(hive, keyPath, location) &&
            ::RegOpenKeyExW(location.root, location.path.c_str(), 0, access, &key_) !=
                ERROR_SUCCESS) {
            key_ = nullptr;
        }
    }
    ~OpenKey() {
        if (key_ != nullptr) {
            ::RegCloseKey(key_);
        }
    }
    OpenKey(const OpenKey&) = delete;
    OpenKey& operator=(const OpenKey&) = delete;
    HKEY Get() const { return key_; }

  private:
    HKEY key_ = nullptr;
};

}  // namespace

bool LocateKey(RegistryHive hive, std::string_view keyPath, KeyLocation& location) {
    if (!ValidKeyPath(keyPath) || SystemHive(hive) == nullptr) {
        return false;
    }
    const std::string root = QuarnelRoot();
    if (root.empty()) {
        location.root = SystemHive(hive);
        location.path = Widen(keyPath);
        return true;
    }
    // A key name may hold any character but the backslash.
    std::string rootName = root;
    for (char& c : rootName) {
        c = c == '\\' ? '/' : c;
    }
    std::string path = "Software\\Quarnel Updater Test Roots\\" + rootName + "\\" + HiveName(hive);
    if (!keyPath.empty()) {
        path += "\\" + std::string(keyPath);
    }
    location.root = HKEY_CURRENT_USER;
    location.path = Widen(path);
    return true;
}

std::string HiveFolder(RegistryHive hive) {
    return HiveName(hive);
}

std::string KeyFolder(RegistryHive hive, std::string_view keyPath) {
    if (!KeyExists(hive, keyPath)) {
        return {};
    }
    return std::string(HiveName(hive)) + (keyPath.empty() ? "" : "\\" + std::string(keyPath));
}

bool KeyExists(RegistryHive hive, std::string_view keyPath) {
    const OpenKey key(hive, keyPath, KEY_READ);
    return key.Get() != nullptr;
}

bool CreateKey(RegistryHive hive, std::string_view keyPath) {
    KeyLocation location;
    if (!LocateKey(hive, keyPath, location)) {
        return false;
    }
    HKEY key = nullptr;
    if (::RegCreateKeyExW(location.root, location.path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                          KEY_READ | KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    ::RegCloseKey(key);
    return true;
}

bool DeleteKey(RegistryHive hive, std::string_view keyPath) {
    KeyLocation location;
    if (keyPath.empty() || !LocateKey(hive, keyPath, location)) {
        return false;
    }
    // RegDeleteKeyW refuses a key that has subkeys, as the store does.
    return ::RegDeleteKeyW(location.root, location.path.c_str()) == ERROR_SUCCESS;
}

bool ReadValue(RegistryHive hive, std::string_view keyPath, std::string_view valueName,
               RegistryValue& value) {
    const OpenKey key(hive, keyPath, KEY_QUERY_VALUE);
    if (key.Get() == nullptr) {
        return false;
    }
    const std::wstring name = Widen(valueName);
    // The value may change between the size query and the read: try again with its new size.
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD type = 0;
        DWORD size = 0;
        LSTATUS status =
            ::RegQueryValueExW(key.Get(), name.c_str(), nullptr, &type, nullptr, &size);
        if (status != ERROR_SUCCESS || size > kMaximumValueBytes) {
            return false;
        }
        std::vector<std::uint8_t> data(size);
        status = ::RegQueryValueExW(key.Get(), name.c_str(), nullptr, &type,
                                    data.empty() ? nullptr : data.data(), &size);
        if (status == ERROR_MORE_DATA) {
            continue;
        }
        if (status != ERROR_SUCCESS) {
            return false;
        }
        data.resize(size);
        value.type = type;
        value.data = std::move(data);
        return true;
    }
    return false;
}

bool WriteValue(RegistryHive hive, std::string_view keyPath, std::string_view valueName,
                const RegistryValue& value) {
    if (value.data.size() > kMaximumValueBytes) {
        return false;
    }
    const OpenKey key(hive, keyPath, KEY_SET_VALUE);
    return key.Get() != nullptr &&
           ::RegSetValueExW(key.Get(), Widen(valueName).c_str(), 0, value.type,
                            value.data.empty() ? nullptr : value.data.data(),
                            static_cast<DWORD>(value.data.size())) == ERROR_SUCCESS;
}

bool DeleteValue(RegistryHive hive, std::string_view keyPath, std::string_view valueName) {
    const OpenKey key(hive, keyPath, KEY_SET_VALUE);
    return key.Get() != nullptr &&
           ::RegDeleteValueW(key.Get(), Widen(valueName).c_str()) == ERROR_SUCCESS;
}

bool IsSecretValueName(std::string_view valueName) {
    return ToLowerAscii(valueName) == "password";
}

// The registry writes values whole itself; nothing of the store's own lies among them.
bool IsTransientEntryName(std::string_view /*fileName*/) {
    return false;
}

}  // namespace quarnel::registry_store
