#include "ui/systray_process.h"

#include <QApplication>
#include <QSocketNotifier>
#include <memory>
#include <thread>

#include "diagnostics/log.h"
#include "platform/elevation.h"
#include "settings/registry.h"
#include "settings/schema.h"
#include "startup/instance.h"
#include "ui/desktop_choices.h"
#include "ui/systray_watch.h"
#include "ui/systray_window.h"

namespace quarnel {

std::int64_t RunSystrayWindows() {
    SystrayWindow window(DefaultSystrayOperations());
    if (!window.Open()) {
        QLOG(kLogWarn, "RunSystrayProcess", "Some tray images are missing");
    }
    TakeTrayStartStep();

    // The instance message: code 0 opens the settings, code 1 ends the tray.
    std::unique_ptr<QSocketNotifier> messages;
    const NativeHandle endpoint = InstanceMessageHandle(SystrayInstanceGuid);
    if (endpoint >= 0) {
        messages = std::make_unique<QSocketNotifier>(endpoint, QSocketNotifier::Read);
        QObject::connect(messages.get(), &QSocketNotifier::activated, &window.Context(), [&window] {
            std::int32_t code = 0;
            for (int i = 0; i < 64 && ReceiveInstanceMessage(SystrayInstanceGuid, code); ++i) {
                window.InstanceMessage(code);
            }
        });
    }

    WaitHandle stop = CreateManualEventHandle();
    std::thread watcher;
    if (stop) {
        watcher = std::thread([&window, &stop] {
            ThreadSystrayMain(
                *stop, [&window](const ServiceResult& result) { window.PostResult(result); });
        });
    } else {
        QLOG(kLogError, "RunSystrayProcess", "Unable to create the stop event; no live results");
    }

    SetProcessPriority(BelowNormalPriorityClass);
    SetProcessPriority(ProcessModeBackgroundBegin);
    if (!window.Closed()) {
        QApplication::exec();
    }
    SetProcessPriority(ProcessModeBackgroundEnd);

    if (watcher.joinable()) {
        SetEventHandle(stop);
        watcher.join();
    }
    QLOG(kLogInfo, "RunSystrayProcess", "Tray window has been closed");
    return 0;
}

}  // namespace quarnel
