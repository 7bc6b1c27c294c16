// The HTTP exchange on Windows: WinHTTP in the process, synchronous, with the system's proxy
// configuration and its certificate store. Redirects are followed here, hop by hop, under the
// same rules as the helper's transfer on Linux (ddns/transfer_rules.h).

#include <windows.h>
// After windows.h, which they need.
#include <wincrypt.h>
#include <winhttp.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>

#include "ddns/http_client.h"
#include "ddns/http_transport.h"
#include "ddns/request_url.h"
#include "ddns/response_head.h"
#include "ddns/transfer_rules.h"
#include "platform/exchange_stop.h"
#include "platform/stopwatch.h"
#include "platform/text.h"
#include "platform/wide_text_win.h"

namespace quarnel {
namespace {

constexpr int kMaxRedirects = 10;

class Internet {
  public:
    explicit Internet(HINTERNET handle = nullptr) : handle_(handle) {}
    ~Internet() { Reset(); }
    Internet(const Internet&) = delete;
    Internet& operator=(const Internet&) = delete;
    HINTERNET Get() const { return handle_; }
    HINTERNET Release() { return std::exchange(handle_, nullptr); }
    explicit operator bool() const { return handle_ != nullptr; }
    void Reset(HINTERNET handle = nullptr) {
        if (handle_ != nullptr) {
            ::WinHttpCloseHandle(handle_);
        }
        handle_ = handle;
    }

  private:
    HINTERNET handle_;
};

// Ends the exchange in progress when the process stops its network exchanges: closing the
// request handle makes the blocked call return at once.
class StopWatch {
  public:
    explicit StopWatch(HINTERNET request) : request_(request) {
        done_ = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        const NativeHandle stop = NetworkStopHandle();
        if (done_ != nullptr && stop != kNoNativeHandle) {
            thread_ = std::thread([this, stop] {
                HANDLE events[2] = {done_, reinterpret_cast<HANDLE>(stop)};
                if (::WaitForMultipleObjects(2, events, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
                    const std::lock_guard guard(lock_);
                    if (!finished_) {
                        stopped_ = true;
                        ::WinHttpCloseHandle(request_);
                    }
                }
            });
        }
    }
    ~StopWatch() {
        {
            const std::lock_guard guard(lock_);
            finished_ = true;
        }
        if (done_ != nullptr) {
            ::SetEvent(done_);
        }
        if (thread_.joinable()) {
            thread_.join();
        }
        if (done_ != nullptr) {
            ::CloseHandle(done_);
        }
    }
    StopWatch(const StopWatch&) = delete;
    StopWatch& operator=(const StopWatch&) = delete;
    // Ends the watch; true when it closed the request (which its owner must then not close
    // again). After this it closes nothing.
    bool Finish() {
        const std::lock_guard guard(lock_);
        finished_ = true;
        return stopped_;
    }

  private:
    HINTERNET request_;
    HANDLE done_ = nullptr;
    std::thread thread_;
    std::mutex lock_;
    bool finished_ = false;
    bool stopped_ = false;
};

std::string BasicCredentials(const std::string& user, const std::string& password) {
    const std::string plain = user + ":" + password;
    DWORD length = 0;
    const auto* bytes = reinterpret_cast<const BYTE*>(plain.data());
    if (!::CryptBinaryToStringA(bytes, static_cast<DWORD>(plain.size()),
                                CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF, nullptr, &length)) {
        return {};
    }
    std::string text(length, '\0');
    if (!::CryptBinaryToStringA(bytes, static_cast<DWORD>(plain.size()),
                                CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF, text.data(), &length)) {
        return {};
    }
    text.resize(length);
    return "Authorization: Basic " + text;
}

// The absolute URL a Location value names, seen from the current URL.
std::string ResolveLocation(const RequestUrl& current, const std::string& location) {
    const std::string lower = ToLowerAscii(location.substr(0, 8));
    if (lower.starts_with("http://") || lower.starts_with("https://")) {
        return location;
    }
    const std::string scheme = current.secure ? "https:" : "http:";
    if (location.starts_with("//")) {
        return scheme + location;
    }
    const std::string authority =
        scheme + "//" + current.host +
        (current.explicitPort ? ":" + std::to_string(current.port) : std::string());
    if (location.starts_with("/")) {
        return authority + location;
    }
    const std::size_t slash = current.path.rfind('/');
    return authority + current.path.substr(0, slash == std::string::npos ? 0 : slash + 1) +
           location;
}

// Path and query as the request line carries them.
std::wstring RequestTarget(const RequestUrl& url) {
    const std::string transport = TransportUrl(url);
    const std::size_t start = transport.find('/', transport.find("://") + 3);
    return Widen(start == std::string::npos ? "/" : transport.substr(start));
}

struct Exchange {
    const HttpTransferRequest* request = nullptr;
    // Why a secure connection failed (the manager's status callback says), as HttpFailure.
    std::uint32_t failure = 0;
    NativeHandle sink = kNoNativeHandle;
    std::uint64_t limit = kHttpAnswerLimit;
    const Stopwatch* clock = nullptr;
    ResponseHead head;
    std::string headerBlock;
    bool headersComplete = false;
    HttpBuffer body;
    std::uint64_t received = 0;
    std::uint64_t expected = 0;
    bool sawBody = false;
    bool failed = false;
};

// A secure connection that failed: whether the certificate named another host, or did not verify.
void CALLBACK OnSecureFailure(HINTERNET /*handle*/, DWORD_PTR context, DWORD status, void* info,
                              DWORD length) {
    if (status != WINHTTP_CALLBACK_STATUS_SECURE_FAILURE || context == 0 || info == nullptr ||
        length < sizeof(DWORD)) {
        return;
    }
    const DWORD flags = *static_cast<const DWORD*>(info);
    auto& exchange = *reinterpret_cast<Exchange*>(context);
    exchange.failure = (flags & WINHTTP_CALLBACK_STATUS_FLAG_CERT_CN_INVALID) != 0
                           ? static_cast<std::uint32_t>(HttpFailure::CertificateName)
                           : static_cast<std::uint32_t>(HttpFailure::CertificateUntrusted);
}

// Reads the head of the response that arrived on request.
bool ReadHead(HINTERNET request, Exchange& exchange) {
    DWORD size = 0;
    ::WinHttpQueryHeaders(request, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX,
                          nullptr, &size, WINHTTP_NO_HEADER_INDEX);
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0 ||
        size > kHttpAnswerLimit * sizeof(wchar_t)) {
        return false;
    }
    std::wstring raw(size / sizeof(wchar_t), L'\0');
    if (!::WinHttpQueryHeaders(request, WINHTTP_QUERY_RAW_HEADERS_CRLF,
                               WINHTTP_HEADER_NAME_BY_INDEX, raw.data(), &size,
                               WINHTTP_NO_HEADER_INDEX)) {
        return false;
    }
    raw.resize(size / sizeof(wchar_t));
    exchange.head = ResponseHead();
    exchange.headerBlock.clear();
    for (std::string line : SplitText(Narrow(raw), '\n')) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty()) {
            continue;
        }
        ReadResponseHeaderLine(line, exchange.head);
        exchange.headerBlock += line + "\r\n";
    }
    exchange.headerBlock += "\r\n";
    exchange.headersComplete = exchange.head.status != 0;
    return exchange.headersComplete;
}

bool WriteToSink(NativeHandle sink, const char* data, DWORD length) {
    while (length > 0) {
        DWORD written = 0;
        if (!::WriteFile(reinterpret_cast<HANDLE>(sink), data, length, &written, nullptr) ||
            written == 0) {
            return false;
        }
        data += written;
        length -= written;
    }
    return true;
}

void ReadBody(HINTERNET request, Exchange& exchange,
              const HttpTransferProgressCallback& onProgress) {
    char buffer[16384];
    while (true) {
        if (exchange.clock->Elapsed() >= std::chrono::seconds(exchange.request->totalSeconds)) {
            exchange.failed = true;
            return;
        }
        DWORD length = 0;
        if (!::WinHttpReadData(request, buffer, sizeof buffer, &length)) {
            exchange.failed = true;
            return;
        }
        if (length == 0) {
            return;
        }
        if (!exchange.sawBody) {
            exchange.sawBody = true;
            exchange.expected = exchange.head.contentLength.value_or(length);
        }
        // More than the limit, or more than the server announced, is not the answer it promised.
        if (exchange.received + length > exchange.limit ||
            (exchange.head.contentLength &&
             exchange.received + length > *exchange.head.contentLength)) {
            exchange.failed = true;
            return;
        }
        if (exchange.sink != kNoNativeHandle) {
            if (!WriteToSink(exchange.sink, buffer, length)) {
                exchange.failed = true;
                return;
            }
        } else {
            exchange.body.insert(exchange.body.end(), buffer, buffer + length);
        }
        exchange.received += length;
        if (onProgress) {
            onProgress({exchange.received, exchange.expected});
        }
    }
}

}  // namespace

std::optional<HttpTransferAnswer> PerformHttpTransfer(
    const HttpTransferRequest& request, NativeHandle sink, std::size_t /*answerLimit*/,
    const HttpTransferProgressCallback& onProgress) {
    const Stopwatch clock;
    if (NetworkExchangesStopped()) {
        return std::nullopt;
    }
    std::optional<RequestUrl> current = SplitRequestUrl(request.url);
    if (!current || current->host.empty() || current->path.empty()) {
        return std::nullopt;
    }
    const Internet session(::WinHttpOpen(Widen(request.userAgent).c_str(),
                                         WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                         WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) {
        return std::nullopt;
    }
    Exchange exchange;
    exchange.request = &request;
    exchange.clock = &clock;
    if (request.download) {
        exchange.sink = sink;
        exchange.limit = request.limit;
    }
    const bool originalSecure = current->secure;
    const RequestUrl original = *current;
    std::string method = request.method.empty() ? "GET" : request.method;
    std::string body = request.body;
    std::string headers;
    for (const std::string& line : RequestHeaderLines(request)) {
        headers += line + "\r\n";
    }
    const std::string credentials =
        request.user.empty() ? std::string() : BasicCredentials(request.user, request.password);
    const int connectMs = static_cast<int>(request.connectSeconds * 1000);
    const int stallMs = static_cast<int>(request.stallSeconds * 1000);

    for (int hop = 0;; ++hop) {
        const Internet connection(::WinHttpConnect(session.Get(), Widen(current->host).c_str(),
                                                   static_cast<INTERNET_PORT>(current->port), 0));
        if (!connection) {
            return std::nullopt;
        }
        Internet requestHandle(::WinHttpOpenRequest(
            connection.Get(), Widen(method).c_str(), RequestTarget(*current).c_str(), nullptr,
            WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
            WINHTTP_FLAG_REFRESH | (current->secure ? WINHTTP_FLAG_SECURE : 0)));
        if (!requestHandle) {
            return std::nullopt;
        }
        HINTERNET handle = requestHandle.Get();
        ::WinHttpSetTimeouts(handle, connectMs, connectMs, stallMs, stallMs);
        DWORD policy = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
        ::WinHttpSetOption(handle, WINHTTP_OPTION_REDIRECT_POLICY, &policy, sizeof policy);
        DWORD security = 0;
        if ((request.flags & HttpFlagIgnoreCertName) != 0) {
            security |= SECURITY_FLAG_IGNORE_CERT_CN_INVALID;
        }
        if ((request.flags & HttpFlagIgnoreCertDate) != 0) {
            security |= SECURITY_FLAG_IGNORE_CERT_DATE_INVALID;
        }
        if (security != 0) {
            ::WinHttpSetOption(handle, WINHTTP_OPTION_SECURITY_FLAGS, &security, sizeof security);
        }
        ::WinHttpSetStatusCallback(handle, OnSecureFailure, WINHTTP_CALLBACK_FLAG_SECURE_FAILURE,
                                   0);
        // Credentials go only to the server they were given for.
        std::string hopHeaders = headers;
        if (!credentials.empty() && ToLowerAscii(current->host) == ToLowerAscii(original.host) &&
            current->port == original.port && current->secure == original.secure) {
            hopHeaders += credentials + "\r\n";
        }
        const std::wstring wideHeaders = Widen(hopHeaders);
        StopWatch stop(handle);
        const bool sent = ::WinHttpSendRequest(
                              handle, wideHeaders.c_str(), static_cast<DWORD>(wideHeaders.size()),
                              body.empty() ? WINHTTP_NO_REQUEST_DATA : body.data(),
                              static_cast<DWORD>(body.size()), static_cast<DWORD>(body.size()),
                              reinterpret_cast<DWORD_PTR>(&exchange)) &&
                          ::WinHttpReceiveResponse(handle, nullptr) && ReadHead(handle, exchange);
        bool following = false;
        if (sent && IsRedirectStatus(exchange.head.status) && !exchange.head.location.empty()) {
            following = RedirectAllowed(originalSecure, request.flags,
                                        RedirectScheme(exchange.head.location, current->secure));
        }
        if (sent && !following && (request.flags & HttpFlagHeaders) == 0 && method != "HEAD") {
            ReadBody(handle, exchange, onProgress);
        }
        if (stop.Finish()) {
            (void)requestHandle.Release();  // the watch closed it already
            return std::nullopt;
        }
        if (!sent) {
            // An answer without a result that still says why, when the certificate was the cause.
            if (exchange.failure == 0) {
                return std::nullopt;
            }
            HttpTransferAnswer refused;
            refused.failure = exchange.failure;
            return refused;
        }
        if (!following) {
            break;
        }
        const std::optional<RequestUrl> next =
            SplitRequestUrl(ResolveLocation(*current, exchange.head.location));
        if (hop + 1 >= kMaxRedirects || !next || next->path.empty() ||
            !RedirectAllowed(originalSecure, request.flags,
                             next->secure ? RedirectTarget::Https : RedirectTarget::Http)) {
            // The redirect's body was skipped, so there is nothing to hand back.
            exchange.failed = true;
            break;
        }
        // As browsers do: 303, and 301/302 after a POST, continue with GET and no body.
        const int status = exchange.head.status;
        if ((status == 303 && method != "HEAD") ||
            ((status == 301 || status == 302) && method == "POST")) {
            method = "GET";
            body.clear();
        }
        current = next;
    }

    HttpTransferAnswer answer;
    if (exchange.headersComplete) {
        answer.status = exchange.head.status;
    }
    if ((request.flags & HttpFlagHeaders) != 0) {
        if (exchange.headersComplete && !exchange.failed) {
            answer.complete = true;
            answer.bytes = std::move(exchange.headerBlock);
        }
    } else {
        answer.received = exchange.received;
        answer.expected = exchange.expected;
        // A transfer that ended in an error is incomplete even when some bytes arrived: a body
        // cut short must never pass for the whole answer.
        if (!exchange.failed && exchange.sawBody && exchange.received > 0 &&
            exchange.received >= exchange.expected) {
            answer.complete = true;
            answer.bytes.assign(exchange.body.begin(), exchange.body.end());
        }
    }
    return answer;
}

}  // namespace quarnel
