#include "bench/service_bench_support.h"

#include <cstdlib>

#include "settings/identity.h"
#include "settings/protection.h"
#include "settings/registry.h"
#include "settings/schema.h"
#include "tests/fixtures/endpoint_overrides.h"

namespace quarnel::bench {

bool StartEmulator(test::ProviderEmulator& emulator, const std::string& echoAddress) {
    test::ProviderEmulator::Options options;
    options.commands = {
        "/admin/account?user=alice&password=s3cret", "/admin/host?name=home.example.org&user=alice",
        "/admin/dns?name=probe.test&answer=A:198.51.100.1", "/admin/echo?text=" + echoAddress};
    return emulator.Start(options);
}

bool WriteServiceSettings(const test::ProviderEmulator& emulator) {
    // The password is protected by the helper built beside the program (unless one is named).
    ::setenv("QUARNEL_HELPER", QUARNEL_BUILT_HELPER, 0);
    if (!test::PointEndpointsAtEmulator(emulator) ||
        !test::SetEndpointOverride(Endpoint::ProbeHost, "probe.test")) {
        return false;
    }
    const RegistryHive hive = RegistryHive::LocalMachine;
    CreateRegistryKey(hive, kSettingsKey);
    WriteRegistryString(hive, kSettingsKey, kValueUsername, "alice");
    if (WriteProtectedPassword(hive, kSettingsKey, kValuePassword, "s3cret",
                               GetHardwareProfileId()) != 1) {
        return false;
    }
    WriteRegistryString(hive, kSettingsKey, kValueHostname, "home.example.org");
    WriteRegistryDword(hive, kSettingsKey, kValueInterval, 5);
    WriteTimeStamp(hive, kSettingsKey, kValueTime, CurrentTimeStamp());
    return true;
}

bool StartService(test::ChildProcess& service, const std::string& program, const std::string& root,
                  const test::ProviderEmulator& emulator) {
    return service.Start(program, {"/service"},
                         {{"QUARNEL_ROOT", root}, {"SSL_CERT_FILE", emulator.CaFile()}});
}

}  // namespace quarnel::bench
