#include "ddns/identity_digests.h"

#include <openssl/sha.h>

#include <mutex>
#include <vector>

#include "diagnostics/log.h"
#include "platform/text.h"

namespace quarnel {
namespace {

// Placeholder until the settings store's identity procedures are part of this build: no
// identity is known, so identified requests go out without identification headers.
std::string ReadClientIdentity() {
    QLOG(kLogWarn, "ReadClientIdentity", "Client identity not available in this build yet");
    return {};
}

std::string ReadHardwareProfileId() {
    QLOG(kLogWarn, "ReadHardwareProfileId",
         "Hardware profile identifier not available in this build yet");
    return {};
}

}  // namespace

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
        digests.user = IdentityDigest(ReadClientIdentity());
    }
    if (digests.hardware.empty()) {
        digests.hardware = IdentityDigest(ReadHardwareProfileId());
    }
    return digests;
}

}  // namespace quarnel
