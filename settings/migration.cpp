#include "settings/migration.h"

#include <cstdint>
#include <string>

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

    if (!password.empty()) {
        WriteProtectedPassword(kMachine, kProductKey, kValuePassword, password, identity);
    }
    if (beta != 0) {
        WriteRegistryDword(kMachine, kProductKey, kValueSoftwareBeta, beta);
    }
    if (filter != 0) {
        WriteRegistryDword(kMachine, kProductKey, kValueWirelessFilter, filter);
    }
    if (!networks.empty()) {
        WriteRegistryMultiString(kMachine, kProductKey, kValueWirelessNetworks, networks);
    }
    DeleteRegistryValue(kMachine, kProductKey, kLegacyBeta);
    DeleteRegistryValue(kMachine, kProductKey, kLegacyFilter);
    DeleteRegistryValue(kMachine, kProductKey, kLegacyNetworks);
    return 1;
}

int MigrateFromBuild269() {
    const std::string identity = GetClientIdentity();
    const std::string hardware = GetHardwareProfileId();

    const std::string username = ReadRegistryString(kMachine, kProductKey, kValueUsername);
    const std::string password =
        ReadProtectedPassword(kMachine, kProductKey, kValuePassword, identity);
    const std::string hostname = ReadRegistryString(kMachine, kProductKey, kValueHostname);
    const std::int64_t interval =
        IntervalMinutesFromPosition(ReadRegistryDword(kMachine, kProductKey, kValueInterval));
    const std::int64_t service = ReadRegistryDword(kMachine, kProductKey, kValueService);
    const std::int64_t localFilter = ReadRegistryDword(kMachine, kProductKey, kValueLocalFilter);
    const std::int64_t wirelessFilter =
        ReadRegistryDword(kMachine, kProductKey, kValueWirelessFilter);
    const std::string localNetworks =
        NetworkListFromStored(ReadRegistryMultiString(kMachine, kProductKey, kValueLocalNetworks));
    const std::string wirelessNetworks = NetworkListFromStored(
        ReadRegistryMultiString(kMachine, kProductKey, kValueWirelessNetworks));

    CreateRegistryKey(kMachine, kSettingsKey);
    if (!username.empty()) {
        WriteRegistryString(kMachine, kSettingsKey, kValueUsername, username);
    }
    if (!password.empty()) {
        WriteProtectedPassword(kMachine, kSettingsKey, kValuePassword, password, hardware);
    }
    if (!hostname.empty()) {
        WriteRegistryString(kMachine, kSettingsKey, kValueHostname, hostname);
    }
    if (interval != 0) {
        WriteRegistryDword(kMachine, kSettingsKey, kValueInterval, interval);
    }
    WriteRegistryDword(kMachine, kSettingsKey, kValueService, service);
    if (localFilter != 0) {
        WriteRegistryDword(kMachine, kSettingsKey, kValueLocalFilter, localFilter);
    }
    if (wirelessFilter != 0) {
        WriteRegistryDword(kMachine, kSettingsKey, kValueWirelessFilter, wirelessFilter);
    }
    if (!localNetworks.empty()) {
        WriteRegistryMultiString(kMachine, kSettingsKey, kValueLocalNetworks, localNetworks);
    }
    if (!wirelessNetworks.empty()) {
        WriteRegistryMultiString(kMachine, kSettingsKey, kValueWirelessNetworks, wirelessNetworks);
    }
    WriteTimeStamp(kMachine, kSettingsKey, kValueTime, CurrentTimeStamp());

    for (const std::string_view name :
         {kValueUsername, kValuePassword, kValueHostname, kValueInterval, kValueService,
          kValueLocalFilter, kValueWirelessFilter, kValueLocalNetworks, kValueWirelessNetworks,
          kLegacyForceUpdate}) {
        DeleteRegistryValue(kMachine, kProductKey, name);
    }
    return 1;
}

}  // namespace quarnel
