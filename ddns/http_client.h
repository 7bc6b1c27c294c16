#pragma once

// The one HTTP client of the program: a synchronous request on the calling thread that never
// logs (callers log what they send and receive).
//
// Text arguments are UTF-8; an empty text means the argument is absent. Every answer, whatever
// its status (2xx, 4xx, 5xx), is a result; failures of any kind give no result. An answer is
// capped at kHttpAnswerLimit bytes; a larger one is no result.
//
// On this platform the header block (HttpFlagHeaders) is the response's status line and header
// lines as received, each ended by CR LF, followed by the empty line: bytes, not UTF-16 text.
// HttpRequestString returns it as UTF-8 text; HttpFlagUnicode decodes a UTF-16LE body and
// HttpFlagAscii a Windows-1252 body; otherwise the body is read as UTF-8. Bytes that do not
// decode become U+FFFD.
//
// The exchange runs in the helper executable (libcurl with OpenSSL there, without root and behind
// a system-call filter); when no helper can be started there is no result.
// Proxies come from the usual http_proxy / https_proxy / no_proxy variables; certificates are
// checked against the system's store, or against SSL_CERT_FILE / SSL_CERT_DIR when set. Every
// request asks caches not to answer for the server (Cache-Control and Pragma: no-cache).
// Connecting may take 60 s; a transfer is aborted when no byte (head or body) arrived for 30 s,
// and the whole exchange after 120 s. StopNetworkExchanges (platform/exchange_stop.h) ends every
// exchange within about a second.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/native_handle.h"

namespace quarnel {

inline constexpr std::uint32_t HttpFlagHeaders = 1;
// http URLs follow redirects only with this flag; https URLs follow redirects to https always
// and to http never.
inline constexpr std::uint32_t HttpFlagRedirect = 2;
inline constexpr std::uint32_t HttpFlagIgnoreCertName = 4;
inline constexpr std::uint32_t HttpFlagIgnoreCertDate = 8;
// Sends X-User-Ident and X-Hardware-Ident (when the digests are known).
inline constexpr std::uint32_t HttpFlagIdentify = 16;
inline constexpr std::uint32_t HttpFlagAscii = 32;
inline constexpr std::uint32_t HttpFlagUnicode = 64;
// Connects over IPv6 only (a host's IPv4 addresses are not tried), so that what a server sees is
// the caller's IPv6 address.
inline constexpr std::uint32_t HttpFlagIPv6Only = 128;

inline constexpr std::size_t kHttpAnswerLimit = std::size_t{1} << 20;
// Downloads into a file (HttpRequestFile, HttpDownloadToFile) have a bound of their own: an
// installer is larger than any answer. Their whole exchange may take this long.
inline constexpr std::size_t kHttpDownloadLimit = std::size_t{256} << 20;
inline constexpr long kHttpDownloadSeconds = 3600;

// The transport's request object. On this platform the exchange runs in a helper process
// (platform/helper_call.h), so no transport object exists in the caller: onRequest is called
// once, just before the request is handed over, always with a null handle.
using HttpRequestHandle = void*;
using HttpBuffer = std::vector<std::uint8_t>;

// Callbacks run on the calling thread and must not throw.
using HttpRequestCallback = std::function<void(std::int64_t context, HttpRequestHandle request)>;
// After every non-empty piece of the body: bytes so far, bytes expected (the Content-Length,
// else the size of the first piece), whole seconds since the request began.
using HttpProgressCallback = std::function<void(std::int64_t context, std::uint64_t received,
                                                std::uint64_t expected, std::uint64_t seconds)>;
// Once, when the request was sent or failed to be: the result or null, and the same figures.
using HttpCompleteCallback =
    std::function<void(std::int64_t context, const HttpBuffer* result, std::uint64_t received,
                       std::uint64_t expected, std::uint64_t seconds)>;

// The answer's body (or header block), or nothing. An empty body is no result, too. Unusable
// URLs (another scheme, no host, no path) give no result and call no callback.
std::optional<HttpBuffer> HttpRequestMemory(std::string_view url, std::string_view method,
                                            std::uint32_t flags, std::string_view user,
                                            std::string_view password, std::string_view headers,
                                            std::string_view body, std::string_view userAgent = {},
                                            std::int64_t context = 0,
                                            const HttpRequestCallback& onRequest = {},
                                            const HttpProgressCallback& onProgress = {},
                                            const HttpCompleteCallback& onComplete = {});

// The answer as text (see the decoding above); the empty text for no result.
std::string HttpRequestString(std::string_view url, std::string_view method, std::uint32_t flags,
                              std::string_view user, std::string_view password,
                              std::string_view headers, std::string_view body,
                              std::string_view userAgent = {}, std::int64_t context = 0,
                              const HttpRequestCallback& onRequest = {},
                              const HttpProgressCallback& onProgress = {},
                              const HttpCompleteCallback& onComplete = {});

// Writes the body (flags 0) to filePath, created or replaced, readable by its owner only, as
// the bytes arrive (up to kHttpDownloadLimit; more than the server announced is a failure);
// returns the bytes written, or 0 when there was no result or the file could not be written
// completely (a partly written file is removed).
std::uint64_t HttpRequestFile(std::string_view url, const std::string& filePath,
                              std::string_view method, std::string_view user,
                              std::string_view password, std::string_view headers,
                              std::string_view body, std::string_view userAgent = {},
                              std::int64_t context = 0, const HttpRequestCallback& onRequest = {},
                              const HttpProgressCallback& onProgress = {},
                              const HttpCompleteCallback& onComplete = {});

// HttpRequestFile into an open file (written from where it stands, for example a file the caller
// created in a private folder); returns the bytes written, or 0 when the download failed (the
// file then holds an unfinished part, which the caller discards).
std::uint64_t HttpDownloadToFile(std::string_view url, NativeHandle file, std::string_view method,
                                 std::string_view user, std::string_view password,
                                 std::string_view headers, std::string_view body,
                                 std::string_view userAgent = {}, std::int64_t context = 0,
                                 const HttpRequestCallback& onRequest = {},
                                 const HttpProgressCallback& onProgress = {},
                                 const HttpCompleteCallback& onComplete = {});

// The HTTP status of the last answer the calling thread's latest request received (after
// redirects), whether or not it gave a result; 0 when no answer head arrived.
int LastHttpStatus();
// Sets it to 0, for a caller whose exchange may end before any request is made.
void ForgetLastHttpStatus();

// Why the calling thread's latest request gave no result, as far as the transport tells.
enum class HttpFailure : std::uint32_t {
    None = 0,                  // it gave a result, or nothing more is known
    CertificateName = 1,       // the server's certificate names neither the host nor its address
    CertificateUntrusted = 2,  // the certificate's chain or dates do not verify
};
HttpFailure LastHttpFailure();
// A short English phrase for the log: "its certificate does not name the host", ...
const char* HttpFailureText(HttpFailure failure);

}  // namespace quarnel
