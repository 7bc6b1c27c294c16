#include "settings/apply.h"

#include "platform/accounts.h"
#include "settings/network_list.h"
#include "settings/protection.h"
#include "settings/registry.h"
#include "settings/schema.h"

namespace quarnel {
namespace {

constexpr RegistryHive kMachine = RegistryHive::LocalMachine;

// Stamps have whole seconds, and the service tells settings it has sent from new ones by their
// stamp alone. Settings applied a second time within the same second (a script running
// /configure twice, OK pressed twice) therefore get the next second: with the same stamp they
// would count as sent already and never reach the provider. A stamp far ahead (a clock set back)
// is not carried on.
std::int64_t OwnSettingsStamp() {
    const std::int64_t now = CurrentTimeStamp();
    const std::int64_t previous = ReadTimeStamp(kMachine, kSettingsKey, kValueTime);
    return previous >= now && previous - now < kSettingsStampLeadSeconds ? previous + 1 : now;
}

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
    WriteTimeStamp(kMachine, kSettingsKey, kValueTime, OwnSettingsStamp());

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
