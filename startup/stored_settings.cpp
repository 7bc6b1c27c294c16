#include "startup/stored_settings.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "libraries/src/service/autostart.h"
#include "platform/accounts.h"
#include "platform/process.h"
#include "platform/text.h"
#include "settings/protection.h"
#include "settings/registry.h"
#include "settings/schema.h"
#include "startup/configure_input.h"
#include "startup/process_main.h"

namespace quarnel {
namespace {

constexpr RegistryHive kMachine = RegistryHive::LocalMachine;
constexpr std::int64_t kDefaultIntervalMinutes = 5;

// The entries of a stored list; its terminator and any empty entries are left out.
std::vector<std::string> StoredList(std::string_view valueName) {
    std::vector<std::string> entries =
        SplitText(ReadRegistryMultiString(kMachine, kSettingsKey, valueName), '\n');
    std::erase(entries, std::string());
    return entries;
}

}  // namespace

SettingsValues ReadStoredSettings() {
    SettingsValues values;
    values.userName = ReadRegistryString(kMachine, kSettingsKey, kValueUsername);
    values.password =
        ReadProtectedPassword(kMachine, kSettingsKey, kValuePassword, GetHardwareProfileId());
    values.hostName = ReadRegistryString(kMachine, kSettingsKey, kValueHostname);
    values.intervalMinutes = ReadRegistryDword(kMachine, kSettingsKey, kValueInterval);
    if (values.intervalMinutes <= 0) {
        values.intervalMinutes = kDefaultIntervalMinutes;
    }
    values.providerIndex = ReadRegistryDword(kMachine, kSettingsKey, kValueService);
    values.localFilter = ReadRegistryDword(kMachine, kSettingsKey, kValueLocalFilter) != 0;
    values.wirelessFilter = ReadRegistryDword(kMachine, kSettingsKey, kValueWirelessFilter) != 0;
    values.localNetworks = StoredList(kValueLocalNetworks);
    values.wirelessNetworks = StoredList(kValueWirelessNetworks);
    values.ipv6 = ReadRegistryDword(kMachine, kSettingsKey, kValueIPv6) != 0;
    values.beta = ReadRegistryDword(kMachine, kProductKey, kValueSoftwareBeta) != 0;
    values.autostartMode = static_cast<int>(GetAutostart(ServiceName, GetProgramPath()));
    return values;
}

std::string ProviderDisplayName(std::int64_t index) {
    const auto& names = ProviderNames();
    if (index >= 0 && index < static_cast<std::int64_t>(names.size())) {
        return names[static_cast<std::size_t>(index)];
    }
    return std::to_string(index);
}

std::string ListDisplay(const std::optional<std::vector<std::string>>& entries) {
    if (!entries || entries->empty()) {
        return "(none)";
    }
    std::string text;
    for (const std::string& entry : *entries) {
        text += (text.empty() ? "" : ", ") + entry;
    }
    return text;
}

}  // namespace quarnel
