#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/crypto_request.h"
#include "platform/helper_call.h"
#include "platform/process.h"
#include "settings/crypto_provider.h"

// The operations run in the helper process: the program maps no cryptographic library.

namespace quarnel {
namespace {

// The cipher and the digests take a few milliseconds in the helper; a helper that has not
// answered by then is stuck.
constexpr std::chrono::milliseconds kHelperDeadline{30000};

struct WipedText {
    std::string text;
    ~WipedText() { WipeMemory(text.data(), text.size()); }
};

std::string_view AsText(const std::vector<std::uint8_t>& bytes, std::size_t length) {
    return {reinterpret_cast<const char*>(bytes.data()), std::min(length, bytes.size())};
}

// The helper's answer to a request that may hold key or plain-text bytes (moved in, so no copy
// stays behind); the request and the answer are wiped once read. Nothing when the helper cannot be
// run or its answer is not exactly answerLength bytes long.
std::vector<std::uint8_t> AskHelper(HelperOperation operation, std::string request,
                                    std::size_t answerLength) {
    HelperCall call;
    call.operation = operation;
    call.request = std::move(request);
    call.deadline = kHelperDeadline;
    call.answerLimit = answerLength;
    // A stop of the network exchanges ends the helper at once, as it ends a transfer: the
    // service that stops records nothing of a cycle cut short, so an empty result there is
    // never taken for a wrong password.
    WipedText answer{CallHelper(call).value_or(std::string())};
    WipeMemory(call.request.data(), call.request.size());
    if (answer.text.size() != answerLength) {
        return {};
    }
    return std::vector<std::uint8_t>(answer.text.begin(), answer.text.end());
}

// CS2: whole blocks are plain CBC; a final partial block is handled by storing the last whole
// cipher block first and the stolen partial block after it.
}  // namespace

std::vector<std::uint8_t> CipherAes256Cs2(const std::vector<std::uint8_t>& input,
                                          const std::vector<std::uint8_t>& key,
                                          const std::vector<std::uint8_t>& iv, bool encrypt) {
    if (input.size() < kCipherBlockLength || key.size() < kCipherKeyLength ||
        iv.size() < kCipherIvLength) {
        return {};
    }
    // Sized up front, so that no copy of the key or the plain text is left behind by a resize.
    std::string request;
    request.reserve(3 * 4 + kCipherKeyLength + kCipherIvLength + input.size());
    AppendRequestField(request, AsText(key, kCipherKeyLength));
    AppendRequestField(request, AsText(iv, kCipherIvLength));
    AppendRequestField(request, AsText(input, input.size()));
    return AskHelper(encrypt ? HelperOperation::Encrypt : HelperOperation::Decrypt,
                     std::move(request), input.size());
}

std::vector<std::uint8_t> DigestMd5(std::string_view bytes) {
    return AskHelper(HelperOperation::Md5, std::string(bytes), kMd5Length);
}

std::vector<std::uint8_t> DigestSha1(std::string_view bytes) {
    return AskHelper(HelperOperation::Sha1, std::string(bytes), kSha1Length);
}

}  // namespace quarnel
