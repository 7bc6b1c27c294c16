// Starting the tray at log-on: a value named after the product under the Run key of the local
// machine (every user) and of the current user, holding the quoted program path.

#include <cstdint>
#include <string>

#include "diagnostics/log.h"
#include "libraries/src/service/autostart.h"
#include "platform/process.h"
#include "platform/registry_store.h"
#include "platform/text.h"

namespace quarnel {
namespace {

constexpr const char* kRunKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

bool EntryMatches(RegistryHive hive, const std::string& name, const std::string& command) {
    RegistryValue value;
    if (!registry_store::ReadValue(hive, kRunKey, name, value) ||
        (value.type != kRegSz && value.type != kRegExpandSz)) {
        return false;
    }
    return Utf16LeBytesToUtf8(value.data.data(), value.data.size(), true) == command;
}

void SetEntry(RegistryHive hive, const std::string& name, const std::string& command, bool on) {
    const std::string where = std::string(hive == RegistryHive::LocalMachine ? "HKLM" : "HKCU") +
                              "\\" + kRunKey + "\\" + name;
    if (!on) {
        if (registry_store::DeleteValue(hive, kRunKey, name)) {
            QLOG(kLogInfo, "SetAutostart", "Removed " + where);
        }
        return;
    }
    RegistryValue value;
    value.type = kRegSz;
    value.data = Utf8ToUtf16LeBytes(command);
    value.data.insert(value.data.end(), {0, 0});
    if (!registry_store::CreateKey(hive, kRunKey) ||
        !registry_store::WriteValue(hive, kRunKey, name, value)) {
        QLOG_ERROR_CODE(kLogError, "SetAutostart", "Cannot write " + where, GetLastErrorCode());
        return;
    }
    QLOG(kLogInfo, "SetAutostart", "Wrote " + where);
}

}  // namespace

std::string AllUsersAutostartPath(const std::string& name) {
    return std::string("HKEY_LOCAL_MACHINE\\") + kRunKey + "\\" + name;
}

std::string ThisUserAutostartPath(const std::string& name) {
    return std::string("HKEY_CURRENT_USER\\") + kRunKey + "\\" + name;
}

std::string AutostartCommand(const std::string& programPath) {
    return "\"" + programPath + "\"";
}

// The Run value is the whole entry on Windows.
std::string BuildAutostartEntry(const std::string& /*name*/, const std::string& programPath) {
    return AutostartCommand(programPath);
}

std::int64_t GetAutostart(const std::string& name, const std::string& programPath) {
    const std::string command = AutostartCommand(programPath);
    std::int64_t state = 0;
    if (EntryMatches(RegistryHive::CurrentUser, name, command)) {
        state |= AutostartThisUser;
    }
    if (EntryMatches(RegistryHive::LocalMachine, name, command)) {
        state |= AutostartAllUsers;
    }
    return state;
}

std::int64_t SetAutostart(const std::string& name, const std::string& programPath, int flags) {
    const std::string command = AutostartCommand(programPath);
    SetEntry(RegistryHive::LocalMachine, name, command, (flags & AutostartAllUsers) != 0);
    SetEntry(RegistryHive::CurrentUser, name, command, (flags & AutostartThisUser) != 0);
    return GetAutostart(name, programPath);
}

}  // namespace quarnel
