#include "ui/setting_watch.h"

#include <cstdint>

#include "diagnostics/log.h"
#include "platform/process_control.h"
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

}  // namespace

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
    WaitHandle change;
    if (RegistryKeyExists(kHive, kServiceKey) == 1) {
        QLOG(kLogTrace, "ThreadSettingMain", "Registry key exists");
        change = RegistryChangeEvent(kHive, kServiceKey, false, "", kWaitInfinite);
    }
    while (true) {
        QLOG(kLogTrace, "ThreadSettingMain", "Waiting for handles");
        WaitEvent* const events[] = {&stop, parent.get(), change.get()};
        const std::uint32_t woken = WaitForEvents(events, change ? 3 : 2, kWaitInfinite, false);
        if (woken == 0) {
            QLOG(kLogTrace, "ThreadSettingMain", "Window has been closed");
            break;
        }
        if (woken == 1) {
            QLOG(kLogInfo, "ThreadSettingMain", "Process wait triggered");
            callbacks.parentGone();
            break;
        }
        if (woken != 2) {
            QLOG(kLogError, "ThreadSettingMain", "Waiting for handles failed");
            break;
        }
        WaitEvent* const stopOnly[] = {&stop};
        if (WaitForEvents(stopOnly, 1, kSettleMilliseconds, false) == 0) {
            break;
        }
        // What arrived while the service wrote its values belongs to this change.
        WaitEvent* const pending[] = {change.get()};
        for (int i = 0; i < kMaximumDrained && WaitForEvents(pending, 1, 0, false) == 0; ++i) {
        }
        QLOG(kLogInfo, "ThreadSettingMain", "Registry change triggered");
        QLOG(kLogTrace, "ThreadSettingMain", "Updating gadget texts");
        callbacks.serviceResult(ReadServiceResult());
    }
    QLOG(kLogDebug, "ThreadSettingMain", "Thread stopped");
}

}  // namespace quarnel
