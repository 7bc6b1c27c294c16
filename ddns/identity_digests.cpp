#include "ddns/identity_digests.h"

#include <openssl/sha.h>

#include <mutex>
#include <vector>

#include "platform/accounts.h"
#include "platform/text.h"
#include "settings/identity.h"

namespace quarnel {

std::string IdentityDigest(std::string_view text) {
    if (text.empty()) {
        return {};
    }
    const std::vector<std::uint8_t> units = Utf8ToUtf16LeBytes(text);
    unsigned char digest[SHA_DIGEST_LENGTH];
    SHA1(units.data(), units.size(), digest);
    return HexLower(digest, sizeof digest);
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
