#pragma once

// Process-wide state of the HTTP client: the transport library's one-time set-up and the
// time-outs. Created on first use, safely when several threads start at once; kept until the
// process ends.

namespace quarnel {

struct HttpTimeouts {
    long connectSeconds = 60;  // to establish the connection (TCP and TLS)
    long stallSeconds = 30;    // once connected: abort when no data moved for this long
    // The whole exchange, redirects included: a server that keeps a transfer alive with a byte
    // now and then cannot hold its caller for longer than this.
    long totalSeconds = 120;
};

// True when the transport is ready (its global set-up succeeded).
bool EnsureHttpSession();

HttpTimeouts CurrentHttpTimeouts();
// For tests that must see a stalled answer fail without waiting half a minute.
void SetHttpTimeouts(const HttpTimeouts& timeouts);

}  // namespace quarnel
