#include "ddns/identity_digests.h"

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/accounts.h"
#include "platform/text.h"
#include "settings/crypto_provider.h"
#include "settings/identity.h"

namespace quarnel {
std::string IdentityDigest(std::string_view text) {
    if (text.empty()) {
        return {};
    }
    const std::vector<std::uint8_t> units = Utf8ToUtf16LeBytes(text);
    const std::vector<std::uint8_t> digest =
        DigestSha1(std::string_view(reinterpret_cast<const char*>(units.data()), units.size()));
    if (digest.size() != kSha1Length) {
        return {};
    }
    return HexLower(digest.data(), digest.size());
}

IdentityDigests ObtainIdentityDigests() {
    static std::mutex lock;
    static IdentityDigests digests;
    std::lock_guard guard(lock);
    if (digests.user.empty()) {
        digests.user = IdentityDigest(GetClientIdentity());
    }
    if (digests.hardware.empty()) {
        digests.hardware = IdentityDigest(GetHardwareProfileId());
    }
    return digests;
}

}  // namespace quarnel
