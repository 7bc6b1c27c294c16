#include "helper/transfer_operation.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <openssl/ssl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <utility>

#include "ddns/http_client.h"
#include "ddns/http_transfer_wire.h"
#include "ddns/request_url.h"
#include "ddns/response_head.h"
#include "helper/operation_io.h"
#include "platform/helper_call_frames.h"
#include "platform/stopwatch.h"
#include "platform/text.h"

namespace quarnel {
namespace {

// A certificate bundle larger than this is not one.
constexpr std::size_t kCertificateFileLimit = std::size_t{16} << 20;
// The download target handed over by the caller.
constexpr int kDownloadDescriptor = 3;

bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t wrote = ::write(fd, data, size);
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            return false;
        }
        data += wrote;
        size -= static_cast<std::size_t>(wrote);
    }
    return true;
}

bool ReadWholeFile(const char* path, std::string& content) {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    char buffer[16384];
    bool ok = true;
    while (true) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0 || content.size() + static_cast<std::size_t>(got) > kCertificateFileLimit) {
            ok = got == 0;
            break;
        }
        content.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return ok;
}

constexpr int kMaxRedirects = 10;

struct ListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using UniqueList = std::unique_ptr<curl_slist, ListDeleter>;

enum class Scheme { Http, Https, Other };

// The scheme a Location value leads to; a relative reference keeps the current one.
Scheme RedirectScheme(std::string_view location, bool currentSecure) {
    const std::size_t colon = location.find(':');
    const std::size_t delimiter = location.find_first_of("/?#");
    if (colon == std::string_view::npos ||
        (delimiter != std::string_view::npos && delimiter < colon)) {
        return currentSecure ? Scheme::Https : Scheme::Http;
    }
    const std::string scheme = ToLowerAscii(location.substr(0, colon));
    if (scheme == "https")
        return Scheme::Https;
    if (scheme == "http")
        return Scheme::Http;
    return Scheme::Other;
}

// http requests follow redirects only when asked to, then to http and https alike; https
// requests follow redirects to https only, so a secure exchange never continues in plain text.
bool RedirectAllowed(bool originalSecure, std::uint32_t flags, Scheme target) {
    if (!originalSecure) {
        return (flags & HttpFlagRedirect) != 0 && target != Scheme::Other;
    }
    return target == Scheme::Https;
}

bool IsRedirectStatus(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// One exchange, possibly over several redirect hops; callbacks from the transport fill it.
struct Exchange {
    std::uint32_t flags = 0;
    bool originalSecure = false;
    bool currentSecure = false;
    const Stopwatch* clock = nullptr;

    // The latest response's head.
    ResponseHead head;
    std::string headerBlock;
    bool headersComplete = false;
    bool following = false;  // this response is a redirect we follow: its body is not the answer

    // The answer's body: kept in memory, or written to sinkFd as it arrives (a download).
    HttpBuffer body;
    int sinkFd = -1;
    std::uint64_t limit = kHttpAnswerLimit;
    std::uint64_t received = 0;
    bool sawBody = false;
    std::uint64_t expected = 0;
    bool bodyRefused = false;  // header mode: the body was left unread on purpose
    bool failed = false;       // too large, or memory ran out

    // The stall watch: when bytes last moved in either direction, counted only once the hop's
    // connection stands (the connect time-out covers the way there). Header bytes count too.
    bool connected = false;
    long stallSeconds = 30;
    long totalSeconds = 120;
    curl_off_t lastMoved = -1;
    std::chrono::steady_clock::time_point lastMoveTime = std::chrono::steady_clock::now();

    void StartResponse() {
        head = ResponseHead();
        headerBlock.clear();
        headersComplete = false;
        following = false;
    }
};

void ReadHeaderLine(Exchange& exchange, std::string_view line) {
    if (IsStatusLine(line)) {
        exchange.StartResponse();
    }
    ReadResponseHeaderLine(line, exchange.head);
}

std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
    auto& exchange = *static_cast<Exchange*>(user);
    const std::size_t length = size * count;
    std::string_view line(data, length);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
        line.remove_suffix(1);
    }
    // A head that arrives slowly is still progress.
    exchange.lastMoveTime = std::chrono::steady_clock::now();
    try {
        ReadHeaderLine(exchange, line);
        if (exchange.headerBlock.size() + line.size() + 2 > kHttpAnswerLimit) {
            exchange.failed = true;
            return 0;
        }
        exchange.headerBlock.append(line);
        exchange.headerBlock.append("\r\n");
    } catch (...) {
        exchange.failed = true;
        return 0;
    }
    if (line.empty()) {
        exchange.headersComplete = true;
        exchange.following =
            IsRedirectStatus(exchange.head.status) && !exchange.head.location.empty() &&
            RedirectAllowed(exchange.originalSecure, exchange.flags,
                            RedirectScheme(exchange.head.location, exchange.currentSecure));
    }
    return length;
}

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto& exchange = *static_cast<Exchange*>(user);
    const std::size_t length = size * count;
    if (exchange.following) {
        return length;
    }
    if ((exchange.flags & HttpFlagHeaders) != 0) {
        exchange.bodyRefused = true;
        return 0;  // ends the transfer: header mode never reads the body
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
        return 0;
    }
    if (exchange.sinkFd >= 0) {
        if (!WriteAll(exchange.sinkFd, data, length)) {
            exchange.failed = true;
            return 0;
        }
    } else {
        try {
            exchange.body.insert(exchange.body.end(), data, data + length);
        } catch (...) {
            exchange.failed = true;
            return 0;
        }
    }
    exchange.received += length;
    // The caller relays every piece to its progress callback; a caller that is gone ends this.
    if (length > 0 && !SendFrame(kHelperProgressFrame,
                                 EncodeTransferProgress({exchange.received, exchange.expected}))) {
        exchange.failed = true;
        return 0;
    }
    return length;
}

// The hop's connection is established (TLS included) or reused; the request goes out next.
int OnConnected(void* user, char*, char*, int, int) {
    auto& exchange = *static_cast<Exchange*>(user);
    exchange.connected = true;
    exchange.lastMoveTime = std::chrono::steady_clock::now();
    return CURL_PREREQFUNC_OK;
}

// Aborts the transfer when the whole exchange took too long, or when no byte moved for the stall
// time; the transport calls this at least once a second, while it resolves and connects as
// well. (The caller kills the helper when it stops its exchanges.)
int OnTransferProgress(void* user, curl_off_t, curl_off_t downloaded, curl_off_t,
                       curl_off_t uploaded) {
    auto& exchange = *static_cast<Exchange*>(user);
    if (exchange.clock->Elapsed() >= std::chrono::seconds(exchange.totalSeconds)) {
        return 1;
    }
    if (!exchange.connected) {
        return 0;
    }
    const auto now = std::chrono::steady_clock::now();
    if (downloaded + uploaded != exchange.lastMoved) {
        exchange.lastMoved = downloaded + uploaded;
        exchange.lastMoveTime = now;
        return 0;
    }
    return now - exchange.lastMoveTime > std::chrono::seconds(exchange.stallSeconds) ? 1 : 0;
}

// Accepts certificates outside their validity period; everything else is still checked.
CURLcode IgnoreCertificateDates(CURL*, void* sslContext, void*) {
    X509_VERIFY_PARAM* parameters = SSL_CTX_get0_param(static_cast<SSL_CTX*>(sslContext));
    X509_VERIFY_PARAM_set_flags(parameters, X509_V_FLAG_NO_CHECK_TIME);
    return CURLE_OK;
}

bool Append(UniqueList& list, const std::string& line) {
    curl_slist* grown = curl_slist_append(list.get(), line.c_str());
    if (grown == nullptr) {
        return false;
    }
    list.release();
    list.reset(grown);
    return true;
}

// The request headers in their fixed order, then the caller's lines.
UniqueList BuildHeaderList(std::uint32_t flags, std::string_view headers, std::string_view body,
                           bool emptyBodyPost, const HttpTransferRequest& digests) {
    UniqueList list;
    bool ok = Append(list, "Accept: text/html,text/plain,*/*;q=0.5") &&
              Append(list, "Accept-Charset: utf-8,*;q=0.5");
    // Every answer must be fresh from the server (an address, a verdict): no cache on the way,
    // HTTP/1.0 proxies included, may answer in its place.
    ok = ok && Append(list, "Cache-Control: no-cache") && Append(list, "Pragma: no-cache");
    // An exact, case-sensitive search, so a caller's "content-type:" line does not count.
    if (ok && !body.empty() && headers.find("Content-Type:") == std::string_view::npos) {
        ok = Append(list, "Content-Type: text/plain; charset=utf-8");
    }
    if (ok && (flags & HttpFlagIdentify) != 0 && !digests.userIdent.empty()) {
        ok = Append(list, "X-User-Ident: " + digests.userIdent);
    }
    if (ok && (flags & HttpFlagIdentify) != 0 && !digests.hardwareIdent.empty()) {
        ok = Append(list, "X-Hardware-Ident: " + digests.hardwareIdent);
    }
    // The transport's own additions that were never part of the request: the form content
    // type of a body-less POST and the 100-continue handshake.
    if (ok && emptyBodyPost) {
        ok = Append(list, "Content-Type:");
    }
    ok = ok && Append(list, "Expect:");
    std::size_t start = 0;
    while (ok && start < headers.size()) {
        std::size_t end = headers.find('\n', start);
        if (end == std::string_view::npos) {
            end = headers.size();
        }
        std::string_view line = headers.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (!line.empty()) {
            ok = Append(list, std::string(line));
        }
        start = end + 1;
    }
    return ok ? std::move(list) : UniqueList();
}

void SetTransportOptions(CURL* easy, Exchange& exchange, const HttpTransferRequest& request,
                         const TransferSession& preparation) {
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    curl_easy_setopt(easy, CURLOPT_USERAGENT, request.userAgent.c_str());
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, request.connectSeconds);
    exchange.stallSeconds = request.stallSeconds;
    exchange.totalSeconds = request.totalSeconds;
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, OnTransferProgress);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &exchange);
    curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, OnConnected);
    curl_easy_setopt(easy, CURLOPT_PREREQDATA, &exchange);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &exchange);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &exchange);
    // Debian's libcurl does not read these itself; OpenSSL's own tools do, and a private CA is
    // named through them. The file was read while the helper was still root.
    if (preparation.certificatesRead) {
        curl_blob blob{const_cast<char*>(preparation.certificates.data()),
                       preparation.certificates.size(), CURL_BLOB_NOCOPY};
        curl_easy_setopt(easy, CURLOPT_CAINFO_BLOB, &blob);
    } else if (const char* file = std::getenv("SSL_CERT_FILE"); file != nullptr && *file != '\0') {
        curl_easy_setopt(easy, CURLOPT_CAINFO, file);
    }
    if (const char* folder = std::getenv("SSL_CERT_DIR"); folder != nullptr && *folder != '\0') {
        curl_easy_setopt(easy, CURLOPT_CAPATH, folder);
    }
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST,
                     (exchange.flags & HttpFlagIgnoreCertName) != 0 ? 0L : 2L);
    if ((exchange.flags & HttpFlagIgnoreCertDate) != 0) {
        curl_easy_setopt(easy, CURLOPT_SSL_CTX_FUNCTION, IgnoreCertificateDates);
    }
    if ((exchange.flags & HttpFlagIPv6Only) != 0) {
        curl_easy_setopt(easy, CURLOPT_IPRESOLVE, static_cast<long>(CURL_IPRESOLVE_V6));
    }
}

void SetMethodAndBody(CURL* easy, const std::string& method, const std::string& body) {
    if (method == "HEAD") {
        curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
        return;
    }
    if (!body.empty() || method == "POST" || method == "PUT") {
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
        curl_easy_setopt(easy, CURLOPT_POSTFIELDS, body.c_str());
    }
    if (method != "GET" && method != "POST") {
        curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method.c_str());
    } else if (method == "GET" && !body.empty()) {
        curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, "GET");
    }
}

// Prepares the handle for the next hop of a redirect; false when it must not be followed.
bool PrepareRedirect(CURL* easy, const RequestUrl& from, RequestUrl& to, int status,
                     std::string& method, std::uint32_t flags, bool originalSecure) {
    char* next = nullptr;
    if (curl_easy_getinfo(easy, CURLINFO_REDIRECT_URL, &next) != CURLE_OK || next == nullptr) {
        return false;
    }
    const std::optional<RequestUrl> target = SplitRequestUrl(next);
    if (!target || target->path.empty() ||
        !RedirectAllowed(originalSecure, flags, target->secure ? Scheme::Https : Scheme::Http)) {
        return false;
    }
    // Credentials go only to the server they were given for.
    if (ToLowerAscii(target->host) != ToLowerAscii(from.host) || target->port != from.port ||
        target->secure != from.secure) {
        curl_easy_setopt(easy, CURLOPT_USERNAME, nullptr);
        curl_easy_setopt(easy, CURLOPT_PASSWORD, nullptr);
        curl_easy_setopt(easy, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_NONE));
    }
    // As browsers do: 303, and 301/302 after a POST, continue with GET and no body.
    if ((status == 303 && method != "HEAD") ||
        ((status == 301 || status == 302) && method == "POST")) {
        method = "GET";
        curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, nullptr);
        curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    }
    to = *target;
    return true;
}

// The session's handle with every option back at its default; its connections stay open.
CURL* SessionHandle(TransferSession& session) {
    if (!session.handle) {
        if (CURL* created = curl_easy_init(); created != nullptr) {
            session.handle.reset(created, [](void* handle) { curl_easy_cleanup(handle); });
        }
    } else {
        curl_easy_reset(session.handle.get());
    }
    return static_cast<CURL*>(session.handle.get());
}

// A download's handle is never shared: its connection must not outlive the exchange holding the
// file.
struct OwnHandle {
    CURL* handle = nullptr;
    ~OwnHandle() {
        if (handle != nullptr) {
            curl_easy_cleanup(handle);
        }
    }
    CURL* get() const { return handle; }
};

}  // namespace

TransferSession PrepareTransfers() {
    TransferSession preparation;
    preparation.ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    if (const char* file = std::getenv("SSL_CERT_FILE"); file != nullptr && *file != '\0') {
        preparation.certificatesRead = ReadWholeFile(file, preparation.certificates);
    }
    return preparation;
}

std::optional<std::string> RunTransferOperation(std::string_view requestBytes,
                                                TransferSession& preparation) {
    const Stopwatch clock;
    std::optional<HttpTransferRequest> request = DecodeTransferRequest(requestBytes);
    if (!request || !preparation.ready) {
        return std::nullopt;
    }
    std::optional<RequestUrl> current = SplitRequestUrl(request->url);
    if (!current || current->host.empty() || current->path.empty()) {
        return std::nullopt;
    }
    OwnHandle own;
    if (request->download) {
        own.handle = curl_easy_init();
    }
    CURL* const easy = request->download ? own.get() : SessionHandle(preparation);
    std::string verb = request->method.empty() ? "GET" : request->method;
    const std::uint32_t flags = request->flags;
    UniqueList headerList =
        BuildHeaderList(flags, request->headers, request->body,
                        request->body.empty() && (verb == "POST" || verb == "PUT"), *request);
    if (!easy || !headerList) {
        return std::nullopt;
    }

    Exchange exchange;
    exchange.flags = flags;
    exchange.originalSecure = current->secure;
    exchange.clock = &clock;
    SetTransportOptions(easy, exchange, *request, preparation);
    if (request->download) {
        exchange.sinkFd = kDownloadDescriptor;
        exchange.limit = request->limit;
    }
    SetMethodAndBody(easy, verb, request->body);
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headerList.get());
    if (!request->user.empty()) {
        curl_easy_setopt(easy, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
        curl_easy_setopt(easy, CURLOPT_USERNAME, request->user.c_str());
        curl_easy_setopt(easy, CURLOPT_PASSWORD, request->password.c_str());
    }

    CURLcode code = CURLE_OK;
    for (int hop = 0;; ++hop) {
        exchange.currentSecure = current->secure;
        exchange.connected = false;
        const std::string transportUrl = TransportUrl(*current);
        curl_easy_setopt(easy, CURLOPT_URL, transportUrl.c_str());
        code = curl_easy_perform(easy);
        if (code != CURLE_OK || !exchange.following) {
            break;
        }
        RequestUrl next;
        if (hop + 1 >= kMaxRedirects || !PrepareRedirect(easy, *current, next, exchange.head.status,
                                                         verb, flags, exchange.originalSecure)) {
            // The redirect's body was skipped, so there is nothing to hand back.
            exchange.failed = true;
            break;
        }
        current = next;
    }

    HttpTransferAnswer answer;
    if (exchange.headersComplete) {
        answer.status = exchange.head.status;
    }
    if (code == CURLE_PEER_FAILED_VERIFICATION) {
        // libcurl checks the name itself once OpenSSL accepted chain and dates; a failed name
        // check leaves its "not verified" mark (1) instead of an OpenSSL verdict (10 expired,
        // 20 unknown issuer, ...). OpenSSL's own name verdicts count as well.
        long verified = -1;
        curl_easy_getinfo(easy, CURLINFO_SSL_VERIFYRESULT, &verified);
        const bool name = verified == X509_V_OK || verified == X509_V_ERR_UNSPECIFIED ||
                          verified == X509_V_ERR_HOSTNAME_MISMATCH ||
                          verified == X509_V_ERR_IP_ADDRESS_MISMATCH;
        answer.failure = static_cast<std::uint32_t>(name ? HttpFailure::CertificateName
                                                         : HttpFailure::CertificateUntrusted);
    }
    if ((flags & HttpFlagHeaders) != 0) {
        const bool complete =
            code == CURLE_OK || (code == CURLE_WRITE_ERROR && exchange.bodyRefused);
        if (complete && exchange.headersComplete && !exchange.failed) {
            answer.complete = true;
            answer.bytes = std::move(exchange.headerBlock);
        }
    } else {
        answer.received = exchange.received;
        answer.expected = exchange.expected;
        // A transfer that ended in an error is incomplete even when some bytes arrived: a body
        // cut short must never pass for the whole answer.
        if (code == CURLE_OK && !exchange.failed && exchange.sawBody && exchange.received > 0 &&
            exchange.received >= exchange.expected) {
            answer.complete = true;
            answer.bytes.assign(exchange.body.begin(), exchange.body.end());
        }
    }
    return EncodeTransferAnswer(answer);
}

}  // namespace quarnel
