#include "ddns/identity_digests.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/accounts.h"
#include "platform/helper_call.h"
#include "platform/text.h"
#include "settings/identity.h"

namespace quarnel {
namespace {

constexpr std::size_t kSha1Length = 20;

}  // namespace

std::string IdentityDigest(std::string_view text) {
    if (text.empty()) {
        return {};
    }
    const std::vector<std::uint8_t> units = Utf8ToUtf16LeBytes(text);
    // The digest is the helper process's work: the program maps no cryptographic library.
    HelperCall call;
    call.operation = HelperOperation::Sha1;
    call.request.assign(units.begin(), units.end());
    call.deadline = std::chrono::seconds(30);
    call.answerLimit = kSha1Length;
    const std::optional<std::string> digest = CallHelper(call);
    if (!digest || digest->size() != kSha1Length) {
        return {};
    }
    return HexLower(reinterpret_cast<const std::uint8_t*>(digest->data()), digest->size());
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
