#include "ui/systray_watch.h"

#include <cstdint>

#include "diagnostics/log.h"
#include "ui/service_key_watch.h"

namespace quarnel {

void ThreadSystrayMain(WaitEvent& stop, const std::function<void(const ServiceResult&)>& deliver) {
    QLOG(kLogDebug, "ThreadSystrayMain", "Thread started");
    // The notification stays armed while a result is delivered, so that a change made meanwhile
    // is not lost.
    ServiceKeyWatch watch("ThreadSystrayMain");
    // The attempt on record at the start was shown by an earlier tray; each one is shown once,
    // however many notifications its writes give.
    AttemptIdentity shown = watch.KeyExists() ? IdentityOf(ReadServiceResult()) : AttemptIdentity{};
    while (true) {
        QLOG(kLogTrace, "ThreadSystrayMain", "Waiting for registry change");
        WaitEvent* const events[] = {&stop, watch.Handle()};
        const std::uint32_t woken =
            watch.Handle() != nullptr ? WaitForEvents(events, 2, kWaitInfinite, false)
                                      : WaitForEvents(events, 1, watch.RetryMilliseconds(), false);
        if (woken == 0) {
            QLOG(kLogTrace, "ThreadSystrayMain", "Window has been closed");
            break;
        }
        if (woken != 1 && woken != kWaitTimeout) {
            QLOG(kLogError, "ThreadSystrayMain", "Unable to wait for a registry change");
            break;
        }
        if (!watch.Changed(stop)) {
            QLOG(kLogTrace, "ThreadSystrayMain", "Window has been closed");
            break;
        }
        if (!watch.KeyExists()) {
            continue;
        }
        QLOG(kLogInfo, "ThreadSystrayMain", "Registry change triggered");
        const ServiceResult result = ReadServiceResult();
        const AttemptIdentity identity = IdentityOf(result);
        if (identity == shown) {
            QLOG(kLogDebug, "ThreadSystrayMain", "This attempt has been shown already");
            continue;
        }
        shown = identity;
        deliver(result);
    }
    QLOG(kLogDebug, "ThreadSystrayMain", "Thread stopped");
}

}  // namespace quarnel
