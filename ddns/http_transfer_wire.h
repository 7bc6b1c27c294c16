#pragma once

// What travels between the HTTP client (ddns/http_client.cpp) and the transfer operation of the
// helper executable (helper/transfer_operation.cpp): the request, the progress figures and the
// answer, each as a list of length-prefixed fields. Shared by both sides, so it depends on
// nothing but the standard library.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quarnel {

struct HttpTransferRequest {
    std::string url;
    std::string method;
    std::uint32_t flags = 0;
    std::string user;
    std::string password;
    std::string headers;
    std::string body;
    std::string userAgent;
    std::string userIdent;      // X-User-Ident when HttpFlagIdentify is set and this is known
    std::string hardwareIdent;  // X-Hardware-Ident likewise
    long connectSeconds = 60;
    long stallSeconds = 30;
    long totalSeconds = 120;
    // The body goes to the helper's descriptor 3 instead of the answer, up to limit bytes.
    bool download = false;
    std::uint64_t limit = 0;
};

struct HttpTransferProgress {
    std::uint64_t received = 0;
    std::uint64_t expected = 0;
};

struct HttpTransferAnswer {
    int status = 0;         // the last answer head's status; 0 when no whole head arrived
    bool complete = false;  // a result: bytes (body or header block; nothing for a download)
    std::uint64_t received = 0;
    std::uint64_t expected = 0;
    std::string bytes;
    // Why there is no result, when the transport knows (an HttpFailure of ddns/http_client.h).
    std::uint32_t failure = 0;
};

std::string EncodeTransferRequest(const HttpTransferRequest& request);
std::optional<HttpTransferRequest> DecodeTransferRequest(std::string_view bytes);
std::string EncodeTransferProgress(const HttpTransferProgress& progress);
std::optional<HttpTransferProgress> DecodeTransferProgress(std::string_view bytes);
std::string EncodeTransferAnswer(const HttpTransferAnswer& answer);
std::optional<HttpTransferAnswer> DecodeTransferAnswer(std::string_view bytes);

}  // namespace quarnel
