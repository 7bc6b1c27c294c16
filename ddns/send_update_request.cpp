// The update exchange itself: settings in, the provider's answer out.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ddns/http_client.h"
#include "ddns/provider_update.h"
#include "diagnostics/log.h"
#include "platform/accounts.h"
#include "platform/process.h"
#include "platform/text.h"
#include "settings/protection.h"
#include "settings/registry.h"
#include "settings/schema.h"

namespace quarnel {
namespace {

constexpr RegistryHive kHive = RegistryHive::LocalMachine;
// Shorter stored bytes are no cipher text at all: damaged, and never readable.
constexpr std::size_t kShortestCipherText = 16;

// The stored password (empty when none is stored or the stored bytes are damaged), or nothing
// when a stored password cannot be deciphered now: the cipher runs in the helper process, which
// can be missing, killed or out of time.
std::optional<std::string> StoredPassword(std::string_view keyMaterial) {
    const std::vector<std::uint8_t> stored =
        ReadRegistryBinary(kHive, kSettingsKey, kValuePassword);
    if (stored.empty()) {
        return std::string();
    }
    std::vector<std::uint8_t> plain = DecryptBuffer(stored, keyMaterial);
    if (plain.empty()) {
        return stored.size() < kShortestCipherText ? std::optional<std::string>(std::string())
                                                   : std::nullopt;
    }
    std::string password = Utf16LeBytesToUtf8(plain.data(), plain.size(), true);
    WipeMemory(plain.data(), plain.size());
    return password;
}

}  // namespace

std::string SendUpdateRequest(std::string_view address) {
    constexpr const char* kProcedure = "SendUpdateRequest";
    // The status the caller reads afterwards belongs to this exchange or to none: an earlier
    // exchange's (the IP echo's) must not pass for the provider's when nothing is sent.
    ForgetLastHttpStatus();
    // The machine's hardware profile identifier is the key material of the stored password.
    const std::string keyMaterial = GetHardwareProfileId();
    const std::string user = ReadRegistryString(kHive, kSettingsKey, kValueUsername);
    const std::optional<std::string> stored = StoredPassword(keyMaterial);
    if (!stored) {
        // Sent empty, it would earn a badauth, after which the service waits for new settings;
        // as no answer, the exchange is tried again.
        QLOG(kLogError, kProcedure,
             "The stored password cannot be deciphered now; nothing is sent");
        return {};
    }
    const std::string& password = *stored;
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
