#include "service/change_watcher.h"

#include <cstddef>
#include <string>
#include <thread>
#include <utility>

#include "diagnostics/log.h"
#include "platform/global_handles.h"

namespace quarnel {
namespace {

constexpr const char* kProcedure = "ThreadServiceWait";
constexpr std::size_t kSlots = 4;
constexpr std::size_t kStopSlot = kSlots;

NativeHandle HandleNumber(const WaitHandle& handle) {
    return handle ? handle->Handle() : 0;
}

void LogResult(std::uint32_t result) {
    switch (result) {
        case 0:
            QLOG(kLogInfo, kProcedure, "Registry change triggered");
            break;
        case 1:
            QLOG(kLogInfo, kProcedure, "Timer timeout triggered");
            break;
        case 2:
            QLOG(kLogInfo, kProcedure, "Network address change triggered");
            break;
        case 3:
            QLOG(kLogInfo, kProcedure, "Network route change triggered");
            break;
        case kWaitAbandoned0 + 0:
            QLOG(kLogWarn, kProcedure, "Registry change abandoned");
            break;
        case kWaitAbandoned0 + 1:
            QLOG(kLogWarn, kProcedure, "Timer timeout abandoned");
            break;
        case kWaitAbandoned0 + 2:
            QLOG(kLogWarn, kProcedure, "Network address change abandoned");
            break;
        case kWaitAbandoned0 + 3:
            QLOG(kLogWarn, kProcedure, "Network route change abandoned");
            break;
        case kWaitTimeout:
            QLOG(kLogWarn, kProcedure, "Waiting for handles timed out");
            break;
        case kWaitFailed:
            QLOG(kLogError, kProcedure, "Waiting for handles failed");
            break;
        default:
            QLOG(kLogError, kProcedure, "Something unexpected happened");
            break;
    }
}

bool StopRequested(const ChangeWatch& watch) {
    return watch.stop != nullptr && IsEventHandleSet(*watch.stop);
}

// Holds a change back until releaseNotBefore; false when the service stopped meanwhile.
bool WaitUntilReleaseAllowed(const ChangeWatch& watch) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= watch.releaseNotBefore) {
        return true;
    }
    const auto wait =
        std::chrono::duration_cast<std::chrono::milliseconds>(watch.releaseNotBefore - now);
    if (watch.stop != nullptr && *watch.stop) {
        return WaitForHandles(watch.stop, 1, wait.count() + 1, false) != 0;
    }
    std::this_thread::sleep_for(wait);
    return true;
}

// Waits on the handles that exist (the stop event last, when given); without a timer the wait
// ends after timeoutSeconds. False when the service stopped.
bool WaitWithAvailableHandles(WaitEvent* const* events, std::size_t count,
                              std::int64_t timeoutSeconds) {
    WaitEvent* available[kSlots + 1];
    std::size_t used = 0;
    const bool haveTimer = events[1] != nullptr;
    for (std::size_t slot = 0; slot < count; ++slot) {
        if (events[slot] != nullptr) {
            available[used++] = events[slot];
        }
    }
    const bool haveStop = count > kSlots;
    if (used == 0) {
        std::this_thread::sleep_for(std::chrono::seconds(timeoutSeconds));
        return true;
    }
    if (haveStop && used == 1) {
        // Only the stop is left: the time-out is the timer.
        return WaitForEvents(available, used, timeoutSeconds * 1000, false) != 0;
    }
    QLOG(kLogTrace, kProcedure, "Waiting for the handles that could be set up");
    const std::uint32_t result =
        WaitForEvents(available, used, haveTimer ? kWaitInfinite : timeoutSeconds * 1000, false);
    return !(haveStop && result == used - 1);
}

}  // namespace

ChangeHandles OpenChangeHandles(const ChangeSources& sources) {
    ChangeHandles handles;
    handles.ipv6 = sources.watchIPv6 && sources.watchIPv6();
    if (sources.networkConfigurationAvailable()) {
        handles.configuration = sources.networkConfigurationChange();
        handles.address = sources.addressChange(handles.ipv6);
        handles.route = sources.routeChange(handles.ipv6);
    }
    return handles;
}

int ThreadServiceWait(const ChangeWatch& watch, const ChangeSources& sources,
                      ChangeHandles opened) {
    QLOG(kLogDebug, kProcedure, "Thread started");
    bool stopping = false;

    if (sources.networkConfigurationAvailable()) {
        QLOG(kLogTrace, kProcedure,
             "Registry key exists, setting up registry and timer wait handles");
        WaitHandle handles[kSlots] = {
            opened.configuration ? std::move(opened.configuration)
                                 : sources.networkConfigurationChange(),
            sources.timer(watch.timeoutSeconds * 1000),
            opened.address ? std::move(opened.address) : sources.addressChange(opened.ipv6),
            opened.route ? std::move(opened.route) : sources.routeChange(opened.ipv6),
        };
        for (std::size_t slot = 0; slot < kSlots; ++slot) {
            QLOG(kLogTrace, kProcedure,
                 "Wait handle " + std::to_string(slot) + " = " +
                     std::to_string(HandleNumber(handles[slot])));
        }
        // The stop event rides along as a fifth slot so that a stopping service can end the
        // watcher; it is not one of the watched changes.
        WaitEvent* events[kSlots + 1];
        for (std::size_t slot = 0; slot < kSlots; ++slot) {
            events[slot] = handles[slot].get();
        }
        std::size_t count = kSlots;
        if (watch.stop != nullptr && *watch.stop) {
            events[kStopSlot] = watch.stop->get();
            count = kSlots + 1;
        }
        QLOG(kLogTrace, kProcedure, "Waiting for handles");
        std::uint32_t result = WaitForEvents(events, count, kWaitInfinite, false);
        if (result == kStopSlot) {
            stopping = true;
        } else {
            QLOG(kLogTrace, kProcedure, "Wait handle result = " + std::to_string(result));
            LogResult(result);
        }
        if (result == kWaitFailed) {
            // A source that could not be watched must not turn into an endless run of cycles:
            // wait for what could be set up, and at least for the time-out.
            stopping = !WaitWithAvailableHandles(events, count, watch.timeoutSeconds);
        }
        for (std::size_t slot = 0; slot < kSlots; ++slot) {
            QLOG(kLogTrace, kProcedure,
                 "Closing wait handle " + std::to_string(slot) + " = " +
                     std::to_string(HandleNumber(handles[slot])));
            CloseWaitHandle(handles[slot]);
        }
        if (!stopping && result != 1) {
            stopping = !WaitUntilReleaseAllowed(watch);
        }
    } else {
        // Without the kernel's notifications (no rtnetlink socket can be made just now: too many
        // open descriptors, no buffer space) the timer and the stop are what is left. Waking at
        // once instead would run cycle after cycle for as long as the shortage lasts.
        QLOG(kLogWarn, kProcedure, "Network changes cannot be watched, waiting for the timer");
        WaitHandle timer = sources.timer(watch.timeoutSeconds * 1000);
        WaitEvent* events[kSlots + 1] = {nullptr, timer.get(), nullptr, nullptr, nullptr};
        std::size_t count = kSlots;
        if (watch.stop != nullptr && *watch.stop) {
            events[kStopSlot] = watch.stop->get();
            count = kSlots + 1;
        }
        stopping = !WaitWithAvailableHandles(events, count, watch.timeoutSeconds);
        CloseWaitHandle(timer);
        if (!stopping) {
            stopping = !WaitUntilReleaseAllowed(watch);
        }
    }

    if (!stopping) {
        stopping = StopRequested(watch);
    }
    if (!stopping && globalHandles.wakeSemaphore) {
        QLOG(kLogDebug, kProcedure, "Reset semaphore");
        while (TryTakeSemaphoreHandle(globalHandles.wakeSemaphore)) {
        }
        QLOG(kLogDebug, kProcedure, "Signal semaphore");
        ReleaseSemaphoreHandle(globalHandles.wakeSemaphore);
    }
    QLOG(kLogDebug, kProcedure, "Thread stopped");
    return 0;
}

}  // namespace quarnel
