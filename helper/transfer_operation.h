#pragma once

// The Transfer operation: one HTTP exchange with libcurl (OpenSSL), the request and answer as
// ddns/http_transfer_wire.h describes; the body goes to descriptor 3 for a download.

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace quarnel {

// What the transfers of one helper share: the transport's one-time set-up and the private
// certificate authority's file (SSL_CERT_FILE), which may be readable by root only (both done
// while the helper is still root), and the transport's handle, kept from one exchange to the
// next so that a connection still open to the same server (its TLS session included) serves
// the next exchange as well, as the transport's own rules for reusing one allow.
struct TransferSession {
    bool ready = false;
    bool certificatesRead = false;
    std::string certificates;
    std::shared_ptr<void> handle;
};
TransferSession PrepareTransfers();

// The encoded answer, also when the exchange failed (it says so and carries the status that
// arrived); nothing only when the request is malformed or the transport cannot start.
std::optional<std::string> RunTransferOperation(std::string_view request, TransferSession& session);

}  // namespace quarnel
