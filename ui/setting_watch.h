#pragma once

// ThreadSettingMain: the settings window's watch on the service's state key and on the process
// that opened the window. Qt-free; the caller decides how the events reach the window.

#include <cstdint>
#include <functional>

#include "platform/wait.h"
#include "ui/result_notice.h"

namespace quarnel {

struct SettingWatchCallbacks {
    // The service's last attempt (its time and answer), 100 ms after the key changed.
    std::function<void(const ServiceResult&)> serviceResult;
    // The parent process has ended, or cannot be watched at all (it has ended already): the
    // window closes without applying.
    std::function<void()> parentGone;
};

// Watches until stop fires or the parent is gone. The parent is watched even when the service
// key does not exist (no service has run yet), so that the window never outlives its tray; the
// key is then waited for, so that the first result still reaches the status lines.
void ThreadSettingMain(WaitEvent& stop, std::uint32_t parentId,
                       const SettingWatchCallbacks& callbacks);

}  // namespace quarnel
