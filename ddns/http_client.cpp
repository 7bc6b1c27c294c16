#include "ddns/http_client.h"

#include <algorithm>
#include <cstddef>

#include "ddns/http_session.h"
#include "ddns/http_transport.h"
#include "ddns/identity_digests.h"
#include "ddns/request_url.h"
#include "ddns/user_agent.h"
#include "platform/stopwatch.h"

// This side builds the request, relays the transport's progress to the callbacks and turns its
// answer into the result; the exchange itself is the transport's (ddns/http_transport.h).

namespace quarnel {
namespace {

// What the answer carries beside the body: its figures and their field lengths.
constexpr std::size_t kAnswerOverhead = 256;

thread_local int lastStatus = 0;
thread_local HttpFailure lastFailure = HttpFailure::None;

// HttpRequestMemory, or with a sink a download: the body goes to sink, up to kHttpDownloadLimit,
// and a result holds no bytes; received gives the body's size.
std::optional<HttpBuffer> PerformRequest(std::string_view url, std::string_view method,
                                         std::uint32_t flags, std::string_view user,
                                         std::string_view password, std::string_view headers,
                                         std::string_view body, std::string_view userAgent,
                                         std::int64_t context, const HttpRequestCallback& onRequest,
                                         const HttpProgressCallback& onProgress,
                                         const HttpCompleteCallback& onComplete, NativeHandle sink,
                                         std::uint64_t& received) {
    const Stopwatch clock;
    received = 0;
    lastStatus = 0;
    lastFailure = HttpFailure::None;
    const std::optional<RequestUrl> parsed = SplitRequestUrl(url);
    if (!parsed || parsed->host.empty() || parsed->path.empty()) {
        return std::nullopt;
    }
    HttpTransferRequest request;
    request.url = url;
    request.method = method.empty() ? "GET" : std::string(method);
    request.flags = flags;
    request.user = user;
    request.password = password;
    request.headers = headers;
    request.body = body;
    request.userAgent = userAgent.empty() ? DefaultUserAgent() : std::string(userAgent);
    if ((flags & HttpFlagIdentify) != 0) {
        const IdentityDigests digests = ObtainIdentityDigests();
        request.userIdent = digests.user;
        request.hardwareIdent = digests.hardware;
    }
    const HttpTimeouts timeouts = CurrentHttpTimeouts();
    request.connectSeconds = timeouts.connectSeconds;
    request.stallSeconds = timeouts.stallSeconds;
    request.totalSeconds = timeouts.totalSeconds;
    std::size_t answerLimit = kHttpAnswerLimit + kAnswerOverhead;
    if (sink != kNoNativeHandle) {
        request.download = true;
        request.limit = kHttpDownloadLimit;
        // A large download on a slow line takes long; the stall watch still ends a dead one.
        request.totalSeconds = std::max(request.totalSeconds, kHttpDownloadSeconds);
        answerLimit = kAnswerOverhead;
    }
    if (onRequest) {
        onRequest(context, nullptr);
    }

    const std::optional<HttpTransferAnswer> answer =
        PerformHttpTransfer(request, sink, answerLimit, [&](const HttpTransferProgress& progress) {
            if (onProgress) {
                onProgress(context, progress.received, progress.expected, clock.Seconds());
            }
        });
    std::optional<HttpBuffer> result;
    std::uint64_t expected = 0;
    if (answer) {
        lastStatus = answer->status;
        if (answer->failure == static_cast<std::uint32_t>(HttpFailure::CertificateName) ||
            answer->failure == static_cast<std::uint32_t>(HttpFailure::CertificateUntrusted)) {
            lastFailure = static_cast<HttpFailure>(answer->failure);
        }
        if ((flags & HttpFlagHeaders) == 0) {
            received = answer->received;
            expected = answer->expected;
        }
        if (answer->complete) {
            result = HttpBuffer(answer->bytes.begin(), answer->bytes.end());
        }
    }
    if (onComplete) {
        onComplete(context, result ? &*result : nullptr, received, expected, clock.Seconds());
    }
    return result;
}

}  // namespace

std::optional<HttpBuffer> HttpRequestMemory(
    std::string_view url, std::string_view method, std::uint32_t flags, std::string_view user,
    std::string_view password, std::string_view headers, std::string_view body,
    std::string_view userAgent, std::int64_t context, const HttpRequestCallback& onRequest,
    const HttpProgressCallback& onProgress, const HttpCompleteCallback& onComplete) {
    std::uint64_t received = 0;
    return PerformRequest(url, method, flags, user, password, headers, body, userAgent, context,
                          onRequest, onProgress, onComplete, kNoNativeHandle, received);
}

std::uint64_t HttpDownloadToFile(std::string_view url, NativeHandle file, std::string_view method,
                                 std::string_view user, std::string_view password,
                                 std::string_view headers, std::string_view body,
                                 std::string_view userAgent, std::int64_t context,
                                 const HttpRequestCallback& onRequest,
                                 const HttpProgressCallback& onProgress,
                                 const HttpCompleteCallback& onComplete) {
    std::uint64_t received = 0;
    if (file == kNoNativeHandle) {
        return 0;
    }
    const bool complete = PerformRequest(url, method, 0, user, password, headers, body, userAgent,
                                         context, onRequest, onProgress, onComplete, file, received)
                              .has_value();
    return complete ? received : 0;
}

int LastHttpStatus() {
    return lastStatus;
}

void ForgetLastHttpStatus() {
    lastStatus = 0;
    lastFailure = HttpFailure::None;
}

HttpFailure LastHttpFailure() {
    return lastFailure;
}

const char* HttpFailureText(HttpFailure failure) {
    switch (failure) {
        case HttpFailure::None:
            return "no answer";
        case HttpFailure::CertificateName:
            return "its certificate does not name the host";
        case HttpFailure::CertificateUntrusted:
            return "its certificate does not verify (chain or dates)";
    }
    return "no answer";
}

}  // namespace quarnel
