#pragma once

// Process-wide time-outs of the HTTP client, handed to the helper with every request.

namespace quarnel {

struct HttpTimeouts {
    long connectSeconds = 60;  // to establish the connection (TCP and TLS)
    long stallSeconds = 30;    // once connected: abort when no data moved for this long
    // The whole exchange, redirects included: a server that keeps a transfer alive with a byte
    // now and then cannot hold its caller for longer than this.
    long totalSeconds = 120;
};

HttpTimeouts CurrentHttpTimeouts();
// For tests that must see a stalled answer fail without waiting half a minute.
void SetHttpTimeouts(const HttpTimeouts& timeouts);

}  // namespace quarnel
