#include "ui/systray_watch.h"

#include <cstdint>

#include "diagnostics/log.h"
#include "settings/registry.h"
#include "settings/registry_watch.h"
#include "settings/schema.h"

namespace quarnel {
namespace {

constexpr RegistryHive kHive = RegistryHive::LocalMachine;
// Time for the service to write the rest of its values after the first one changed.
constexpr std::int64_t kSettleMilliseconds = 100;
// Notifications taken at most after the settle time; the service writes six values.
constexpr int kMaximumDrained = 256;

// Waits for one of the events; the index of the one that fired, or kWaitFailed / kWaitTimeout.
std::uint32_t WaitForEither(WaitEvent& first, WaitEvent& second, std::int64_t timeoutMs) {
    WaitEvent* const events[] = {&first, &second};
    return WaitForEvents(events, 2, timeoutMs, false);
}

}  // namespace

void ThreadSystrayMain(WaitEvent& stop, const std::function<void(const ServiceResult&)>& deliver) {
    QLOG(kLogDebug, "ThreadSystrayMain", "Thread started");
    if (RegistryKeyExists(kHive, kServiceKey) == 1) {
        QLOG(kLogTrace, "ThreadSystrayMain", "Registry key exists");
        // One notification for the thread's whole life, so that a change made while a result is
        // being shown is not lost.
        WaitHandle change = RegistryChangeEvent(kHive, kServiceKey, false, "", kWaitInfinite);
        while (change) {
            QLOG(kLogTrace, "ThreadSystrayMain", "Waiting for registry change");
            const std::uint32_t woken = WaitForEither(stop, *change, kWaitInfinite);
            if (woken != 1) {
                if (woken != 0) {
                    QLOG(kLogError, "ThreadSystrayMain", "Unable to wait for a registry change");
                }
                break;
            }
            if (WaitForEither(stop, stop, kSettleMilliseconds) == 0) {
                break;
            }
            // What arrived while the service wrote its values belongs to this change.
            WaitEvent* const pending[] = {change.get()};
            for (int i = 0; i < kMaximumDrained && WaitForEvents(pending, 1, 0, false) == 0; ++i) {
            }
            if (RegistryKeyExists(kHive, kServiceKey) != 1) {
                QLOG(kLogWarn, "ThreadSystrayMain", "Registry key has been removed");
                break;
            }
            QLOG(kLogInfo, "ThreadSystrayMain", "Registry change triggered");
            deliver(ReadServiceResult());
        }
        QLOG(kLogTrace, "ThreadSystrayMain", "Window has been closed");
    }
    QLOG(kLogDebug, "ThreadSystrayMain", "Thread stopped");
}

}  // namespace quarnel
