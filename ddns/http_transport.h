#pragma once

// One HTTP exchange as the HTTP client (ddns/http_client.cpp) hands it over: on Linux it runs in
// the helper executable (libcurl with OpenSSL there), on Windows in the process through WinHTTP.
// Both follow the same rules: the request headers in their fixed order, redirects only where
// they are allowed, the answer's bounds, the connect, stall and total times, and the process's
// stop of network exchanges.

#include <cstddef>
#include <functional>
#include <optional>

#include "ddns/http_transfer_wire.h"
#include "platform/native_handle.h"

namespace quarnel {

using HttpTransferProgressCallback = std::function<void(const HttpTransferProgress& progress)>;

// The answer, or nothing when the exchange could not run at all. A download (request.download)
// writes the body to sink instead of the answer. answerLimit bounds what the answer may carry.
std::optional<HttpTransferAnswer> PerformHttpTransfer(
    const HttpTransferRequest& request, NativeHandle sink, std::size_t answerLimit,
    const HttpTransferProgressCallback& onProgress);

}  // namespace quarnel
