#include "ui/setting_watch.h"

#include <cstdint>

#include "diagnostics/log.h"
#include "platform/process_control.h"
#include "ui/service_key_watch.h"

namespace quarnel {

void ThreadSettingMain(WaitEvent& stop, std::uint32_t parentId,
                       const SettingWatchCallbacks& callbacks) {
    QLOG(kLogDebug, "ThreadSettingMain", "Thread started");
    // The process descriptor refers to that very process, so one for the thread's life suffices;
    // a parent that cannot be opened has ended already.
    WaitHandle parent = OpenProcessExitHandle(parentId);
    if (!parent) {
        QLOG(kLogInfo, "ThreadSettingMain", "Process wait triggered");
        callbacks.parentGone();
        QLOG(kLogDebug, "ThreadSettingMain", "Thread stopped");
        return;
    }
    ServiceKeyWatch watch("ThreadSettingMain");
    while (true) {
        QLOG(kLogTrace, "ThreadSettingMain", "Waiting for handles");
        WaitEvent* const events[] = {&stop, parent.get(), watch.Handle()};
        const bool keyWatched = watch.Handle() != nullptr;
        const std::uint32_t woken =
            WaitForEvents(events, keyWatched ? 3 : 2,
                          keyWatched ? kWaitInfinite : watch.RetryMilliseconds(), false);
        if (woken == 0) {
            QLOG(kLogTrace, "ThreadSettingMain", "Window has been closed");
            break;
        }
        if (woken == 1) {
            QLOG(kLogInfo, "ThreadSettingMain", "Process wait triggered");
            callbacks.parentGone();
            break;
        }
        if (woken != 2 && woken != kWaitTimeout) {
            QLOG(kLogError, "ThreadSettingMain", "Waiting for handles failed");
            break;
        }
        if (!watch.Changed(stop)) {
            break;
        }
        if (!watch.KeyExists()) {
            continue;
        }
        QLOG(kLogInfo, "ThreadSettingMain", "Registry change triggered");
        QLOG(kLogTrace, "ThreadSettingMain", "Updating gadget texts");
        callbacks.serviceResult(ReadServiceResult());
    }
    QLOG(kLogDebug, "ThreadSettingMain", "Thread stopped");
}

}  // namespace quarnel
