#include "settings/apply.h"

#include "platform/accounts.h"
#include "settings/network_list.h"
#include "settings/protection.h"
#include "settings/registry.h"
#include "settings/schema.h"

namespace quarnel {
namespace {

constexpr RegistryHive kMachine = RegistryHive::LocalMachine;

}  // namespace

int ApplySettings(const SettingsValues& values, const ApplyOperations& operations) {
    const std::string localList =
        values.localNetworks ? NetworkListText(*values.localNetworks) : std::string();
    const std::string wirelessList =
        values.wirelessNetworks ? NetworkListText(*values.wirelessNetworks) : std::string();
    const std::string hardware = GetHardwareProfileId();

    CreateRegistryKey(kMachine, kProductKey);
    WriteRegistryDword(kMachine, kProductKey, kValueSoftwareBeta, values.beta ? 1 : 0);
    WriteRegistryDword(kMachine, kProductKey, kValueSoftwareBuild, CurrentBuild);

    CreateRegistryKey(kMachine, kSettingsKey);
    WriteRegistryString(kMachine, kSettingsKey, kValueUsername, values.userName);
    WriteProtectedPassword(kMachine, kSettingsKey, kValuePassword, values.password, hardware);
    WriteRegistryString(kMachine, kSettingsKey, kValueHostname, values.hostName);
    WriteRegistryDword(kMachine, kSettingsKey, kValueInterval, values.intervalMinutes);
    WriteRegistryDword(kMachine, kSettingsKey, kValueService, values.providerIndex);
    WriteRegistryDword(kMachine, kSettingsKey, kValueLocalFilter, values.localFilter ? 1 : 0);
    WriteRegistryDword(kMachine, kSettingsKey, kValueWirelessFilter, values.wirelessFilter ? 1 : 0);
    WriteRegistryMultiString(kMachine, kSettingsKey, kValueLocalNetworks, localList);
    WriteRegistryMultiString(kMachine, kSettingsKey, kValueWirelessNetworks, wirelessList);
    // Written once it is on, and when it is turned off again: a store where it was never on keeps
    // the values it always had.
    if (values.ipv6 || ReadRegistryDword(kMachine, kSettingsKey, kValueIPv6) != 0) {
        WriteRegistryDword(kMachine, kSettingsKey, kValueIPv6, values.ipv6 ? 1 : 0);
    }
    WriteTimeStamp(kMachine, kSettingsKey, kValueTime, CurrentTimeStamp());

    if (operations.setAutostart) {
        operations.setAutostart(values.autostartMode);
    }
    if (operations.serviceExists && operations.controlService && operations.serviceExists() != 0) {
        operations.controlService(ControlCodeSettingsChanged);
    }
    if (values.beta && operations.isCurrentUserAdmin && operations.startProgram &&
        operations.isCurrentUserAdmin() != 0) {
        operations.startProgram("/update");
    }
    return 0;
}

}  // namespace quarnel
