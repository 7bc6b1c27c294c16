// The update exchange itself: settings in, the provider's answer out.

#include "ddns/http_client.h"
#include "ddns/provider_update.h"
#include "diagnostics/log.h"
#include "platform/accounts.h"
#include "settings/protection.h"
#include "settings/registry.h"
#include "settings/schema.h"

namespace quarnel {

std::string SendUpdateRequest(std::string_view address) {
    constexpr const char* kProcedure = "SendUpdateRequest";
    constexpr RegistryHive kHive = RegistryHive::LocalMachine;
    // The machine's hardware profile identifier is the key material of the stored password.
    const std::string keyMaterial = GetHardwareProfileId();
    const std::string user = ReadRegistryString(kHive, kSettingsKey, kValueUsername);
    const std::string password =
        ReadProtectedPassword(kHive, kSettingsKey, kValuePassword, keyMaterial);
    const std::string hostname = ReadRegistryString(kHive, kSettingsKey, kValueHostname);
    const std::int64_t service = ReadRegistryDword(kHive, kSettingsKey, kValueService);

    const std::string url = BuildUpdateUrl(service, hostname, address);
    if (url.empty()) {
        QLOG(kLogWarn, kProcedure, "No provider for service " + std::to_string(service));
        return {};
    }
    QLOG(kLogDebug, kProcedure, "Sending " + url);
    // Basic credentials over TLS with every certificate check; never identification headers.
    return TrimUpdateAnswer(HttpRequestString(url, "GET", 0, user, password, "", ""));
}

}  // namespace quarnel
