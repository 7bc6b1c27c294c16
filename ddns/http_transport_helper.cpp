#include <algorithm>
#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "ddns/http_transport.h"
#include "platform/helper_call.h"

// The exchange runs in the helper executable (helper/transfer_operation.cpp): libcurl, OpenSSL
// and the parsing of what the server sends stay out of this process, which may run as root for a
// long time.

namespace quarnel {
namespace {

// The helper ends the exchange itself at its total time; this much later the caller kills it.
constexpr auto kHelperGrace = std::chrono::seconds(10);

}  // namespace

std::optional<HttpTransferAnswer> PerformHttpTransfer(
    const HttpTransferRequest& request, NativeHandle sink, std::size_t answerLimit,
    const HttpTransferProgressCallback& onProgress) {
    HelperCall call;
    call.operation = HelperOperation::Transfer;
    call.network = true;
    call.answerLimit = answerLimit;
    if (request.download) {
        // The helper gets the file as its descriptor 3.
        call.descriptors.push_back(static_cast<int>(sink));
    }
    call.request = EncodeTransferRequest(request);
    call.deadline = std::chrono::seconds(request.totalSeconds) + kHelperGrace;
    const std::optional<std::string> reply = CallHelper(call, [&](std::string_view frame) {
        const std::optional<HttpTransferProgress> progress = DecodeTransferProgress(frame);
        if (progress && onProgress) {
            onProgress(*progress);
        }
    });
    if (!reply) {
        return std::nullopt;
    }
    return DecodeTransferAnswer(*reply);
}

}  // namespace quarnel
