#pragma once

// The change watcher: after each update cycle one watcher waits for the first of a network
// configuration change, its timer, an address change or a route change (IPv4, and IPv6 too while
// the IPv6 address is kept current), then lets exactly one further cycle run.

#include <chrono>
#include <cstdint>
#include <functional>

#include "platform/wait.h"

namespace quarnel {

// Where the watcher's handles come from; the service uses the real notifications, tests their
// own sources.
struct ChangeSources {
    std::function<bool()> networkConfigurationAvailable;
    std::function<WaitHandle()> networkConfigurationChange;
    std::function<WaitHandle(std::int64_t milliseconds)> timer;
    // withIPv6: also the IPv6 changes that can change the published IPv6 address.
    std::function<WaitHandle(bool withIPv6)> addressChange;
    std::function<WaitHandle(bool withIPv6)> routeChange;
    // Whether IPv6 changes are to be watched now; may be empty (never).
    std::function<bool()> watchIPv6;
};

struct ChangeWatch {
    std::int64_t timeoutSeconds = 0;
    // A change that arrives earlier than this is held back until then, so that a storm of
    // changes yields a bounded number of cycles while a single change is answered at once. The
    // timer is held back only when network changes cannot be watched at all (then the timer is
    // the only wake-up left, and every release is held back).
    std::chrono::steady_clock::time_point releaseNotBefore{};
    // A manual-reset event set when the service stops; the watcher then ends without waking the
    // worker.
    const WaitHandle* stop = nullptr;
};

// Change notifications opened ahead of the watcher. The worker opens them before each cycle, so a
// change that happens while the cycle runs, or before the watcher is started, is not lost.
struct ChangeHandles {
    WaitHandle configuration;
    WaitHandle address;
    WaitHandle route;
    bool ipv6 = false;  // the address and route handles also watch IPv6
};
ChangeHandles OpenChangeHandles(const ChangeSources& sources);

// The watcher thread's body; handles it is not given it opens itself (with IPv6 as opened.ipv6
// says). Releases the wake semaphore in GlobalHandles once (folding any releases that were
// pending into it) unless the service is stopping. When the network configuration cannot be
// watched, it waits for the timer (and the stop) alone. Returns 0.
int ThreadServiceWait(const ChangeWatch& watch, const ChangeSources& sources,
                      ChangeHandles opened = {});

}  // namespace quarnel
