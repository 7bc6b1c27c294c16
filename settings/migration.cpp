#include "settings/migration.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry_store.h"
#include "settings/identity.h"
#include "settings/network_list.h"
#include "settings/protection.h"
#include "settings/registry.h"
#include "settings/schema.h"

namespace quarnel {
namespace {

constexpr RegistryHive kMachine = RegistryHive::LocalMachine;

// Older builds stored the interval as the position of the chosen entry of the interval list.
std::int64_t IntervalMinutesFromPosition(std::int64_t position) {
    constexpr std::int64_t kMinutes[] = {5, 10, 15, 30, 60, 120};
    if (position >= 0 && position < static_cast<std::int64_t>(std::size(kMinutes))) {
        return kMinutes[position];
    }
    return position;
}

bool HasValue(std::string_view keyPath, std::string_view name) {
    RegistryValue value;
    return registry_store::ReadValue(kMachine, keyPath, name, value);
}

}  // namespace

int MigrateSettings() {
    int result = 1;
    const std::int64_t build = ReadRegistryDword(kMachine, kProductKey, kValueSoftwareBuild);
    if (build < 260) {
        result = MigrateFromBuild259();
    }
    if (build < 270) {
        const int step = MigrateFromBuild269();
        result = result & step;
    }
    if (result != 0) {
        WriteRegistryDword(kMachine, kProductKey, kValueSoftwareBuild, CurrentBuild);
    }
    return result;
}

int MigrateFromBuild259() {
    const std::string identity = GetClientIdentity();
    const std::string password = ReadRegistryString(kMachine, kProductKey, kValuePassword);
    const std::int64_t beta = ReadRegistryDword(kMachine, kProductKey, kLegacyBeta);
    const std::int64_t filter = ReadRegistryDword(kMachine, kProductKey, kLegacyFilter);
    const std::string networks =
        NetworkListFromStored(ReadRegistryMultiString(kMachine, kProductKey, kLegacyNetworks));

    bool carried = true;
    if (!password.empty()) {
        carried &=
            WriteProtectedPassword(kMachine, kProductKey, kValuePassword, password, identity) == 1;
    }
    // An old value goes only once its new copy is stored (or when it holds nothing to carry).
    if (beta == 0 || WriteRegistryDword(kMachine, kProductKey, kValueSoftwareBeta, beta) == 1) {
        DeleteRegistryValue(kMachine, kProductKey, kLegacyBeta);
    } else {
        carried = false;
    }
    if (filter == 0 ||
        WriteRegistryDword(kMachine, kProductKey, kValueWirelessFilter, filter) == 1) {
        DeleteRegistryValue(kMachine, kProductKey, kLegacyFilter);
    } else {
        carried = false;
    }
    if (networks.empty() ||
        WriteRegistryMultiString(kMachine, kProductKey, kValueWirelessNetworks, networks) == 1) {
        DeleteRegistryValue(kMachine, kProductKey, kLegacyNetworks);
    } else {
        carried = false;
    }
    return carried ? 1 : 0;
}

int MigrateFromBuild269() {
    const std::string identity = GetClientIdentity();
    const std::string hardware = GetHardwareProfileId();

    const std::string username = ReadRegistryString(kMachine, kProductKey, kValueUsername);
    const std::string password =
        ReadProtectedPassword(kMachine, kProductKey, kValuePassword, identity);
    const std::string hostname = ReadRegistryString(kMachine, kProductKey, kValueHostname);
    const bool hasInterval = HasValue(kProductKey, kValueInterval);
    const std::int64_t interval =
        IntervalMinutesFromPosition(ReadRegistryDword(kMachine, kProductKey, kValueInterval));
    const bool hasService = HasValue(kProductKey, kValueService);
    const std::int64_t service = ReadRegistryDword(kMachine, kProductKey, kValueService);
    const std::int64_t localFilter = ReadRegistryDword(kMachine, kProductKey, kValueLocalFilter);
    const std::int64_t wirelessFilter =
        ReadRegistryDword(kMachine, kProductKey, kValueWirelessFilter);
    const std::string localNetworks =
        NetworkListFromStored(ReadRegistryMultiString(kMachine, kProductKey, kValueLocalNetworks));
    const std::string wirelessNetworks = NetworkListFromStored(
        ReadRegistryMultiString(kMachine, kProductKey, kValueWirelessNetworks));

    CreateRegistryKey(kMachine, kSettingsKey);
    // The old values that may go: those whose new copy is stored and those with nothing to carry.
    std::vector<std::string_view> carried = {kLegacyForceUpdate};
    bool complete = true;
    bool wrote = false;
    auto carry = [&](std::string_view name, bool needed, const auto& write) {
        if (!needed) {
            carried.push_back(name);
            return;
        }
        if (write() == 1) {
            carried.push_back(name);
            wrote = true;
        } else {
            complete = false;
        }
    };
    carry(kValueUsername, !username.empty(),
          [&] { return WriteRegistryString(kMachine, kSettingsKey, kValueUsername, username); });
    // A stored password that cannot be read back stays where it is rather than being lost.
    const bool unreadablePassword =
        HasValue(kProductKey, kValuePassword) &&
        ReadProtectedBinary(kMachine, kProductKey, kValuePassword, identity).empty();
    if (!unreadablePassword) {
        carry(kValuePassword, !password.empty(), [&] {
            return WriteProtectedPassword(kMachine, kSettingsKey, kValuePassword, password,
                                          hardware);
        });
    }
    carry(kValueHostname, !hostname.empty(),
          [&] { return WriteRegistryString(kMachine, kSettingsKey, kValueHostname, hostname); });
    // Defaults go only where the settings have no value yet: a second run (a store whose build
    // number went missing) never resets what is there.
    carry(kValueInterval, interval != 0 && (hasInterval || !HasValue(kSettingsKey, kValueInterval)),
          [&] { return WriteRegistryDword(kMachine, kSettingsKey, kValueInterval, interval); });
    carry(kValueService, hasService || !HasValue(kSettingsKey, kValueService),
          [&] { return WriteRegistryDword(kMachine, kSettingsKey, kValueService, service); });
    carry(kValueLocalFilter, localFilter != 0, [&] {
        return WriteRegistryDword(kMachine, kSettingsKey, kValueLocalFilter, localFilter);
    });
    carry(kValueWirelessFilter, wirelessFilter != 0, [&] {
        return WriteRegistryDword(kMachine, kSettingsKey, kValueWirelessFilter, wirelessFilter);
    });
    carry(kValueLocalNetworks, !localNetworks.empty(), [&] {
        return WriteRegistryMultiString(kMachine, kSettingsKey, kValueLocalNetworks, localNetworks);
    });
    carry(kValueWirelessNetworks, !wirelessNetworks.empty(), [&] {
        return WriteRegistryMultiString(kMachine, kSettingsKey, kValueWirelessNetworks,
                                        wirelessNetworks);
    });
    if (wrote || !HasValue(kSettingsKey, kValueTime)) {
        complete &= WriteTimeStamp(kMachine, kSettingsKey, kValueTime, CurrentTimeStamp()) == 1;
    }

    for (const std::string_view name : carried) {
        DeleteRegistryValue(kMachine, kProductKey, name);
    }
    return complete ? 1 : 0;
}

}  // namespace quarnel
