#include "update/file_signature.h"

#include <fcntl.h>

#include <chrono>
#include <cstddef>
#include <optional>
#include <string_view>

#include "platform/crypto_request.h"
#include "platform/helper_call.h"
#include "platform/unique_fd.h"

namespace quarnel {
namespace embedded {
struct Entry {
    const char* name;
    const std::uint8_t* data;
    std::size_t size;
};
extern const Entry kSigningCertificate[];
extern const std::size_t kSigningCertificateCount;
}  // namespace embedded

namespace {

// Reading and checking an installer of some megabytes takes the helper well under a second.
constexpr std::chrono::milliseconds kVerifyDeadline{60000};

// The pinned certificate as PEM text, empty when the build pinned none.
std::string_view PinnedCertificate() {
    if (embedded::kSigningCertificateCount == 0) {
        return {};
    }
    const embedded::Entry& entry = embedded::kSigningCertificate[0];
    return {reinterpret_cast<const char*>(entry.data), entry.size};
}

}  // namespace

// The check runs in the helper process (the program maps no cryptographic library). The pin
// stays here: the request carries the certificate, and the helper only answers whether exactly
// that certificate made the signature. A helper that cannot run or answers anything else leaves
// the file unverified.
std::int64_t VerifyOpenFileSignature(int contentFd, int signatureFd) {
    const std::string_view pinned = PinnedCertificate();
    if (pinned.empty() || contentFd < 0 || signatureFd < 0) {
        return 0;
    }
    HelperCall call;
    call.operation = HelperOperation::VerifySignature;
    call.request.assign(pinned);
    call.descriptors = {contentFd, signatureFd};
    call.deadline = kVerifyDeadline;
    call.answerLimit = 1;
    call.stoppable = false;
    const std::optional<std::string> answer = CallHelper(call);
    return answer == std::string(1, kSignatureVerified) ? 1 : 0;
}

std::int64_t VerifyFileSignature(const std::string& path, std::string* reason) {
    const UniqueFd content(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    const std::string signaturePath = path + kSignatureSuffix;
    const UniqueFd signature(::open(signaturePath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    std::string why;
    std::int64_t result = 0;
    if (!content.Valid()) {
        why = path + " cannot be read";
    } else if (!signature.Valid()) {
        why = "there is no signature " + signaturePath;
    } else {
        result = VerifyOpenFileSignature(content.Get(), signature.Get());
        if (result == 0) {
            why = "the signature " + signaturePath +
                  " does not verify against the maker's certificate";
        }
    }
    if (reason != nullptr) {
        *reason = why;
    }
    return result;
}

}  // namespace quarnel
