#pragma once

// The Transfer operation: one HTTP exchange with libcurl (OpenSSL), the request and answer as
// ddns/http_transfer_wire.h describes; the body goes to descriptor 3 for a download.

#include <optional>
#include <string>
#include <string_view>

namespace quarnel {

// What is done while the helper is still root: the transport's one-time set-up and the private
// certificate authority's file (SSL_CERT_FILE), which may be readable by root only.
struct TransferPreparation {
    bool ready = false;
    bool certificatesRead = false;
    std::string certificates;
};
TransferPreparation PrepareTransfer();

// The encoded answer, also when the exchange failed (it says so and carries the status that
// arrived); nothing only when the request is malformed or the transport cannot start.
std::optional<std::string> RunTransferOperation(std::string_view request,
                                                const TransferPreparation& preparation);

}  // namespace quarnel
