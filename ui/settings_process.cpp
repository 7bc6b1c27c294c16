#include "ui/settings_process.h"

#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <memory>
#include <thread>
#include <utility>

#include "diagnostics/log.h"
#include "libraries/src/adapter/wlan_identifier.h"
#include "libraries/src/service/autostart.h"
#include "network/network_filter.h"
#include "platform/global_handles.h"
#include "platform/process.h"
#include "platform/process_control.h"
#include "platform/product.h"
#include "startup/apply_operations.h"
#include "startup/instance.h"
#include "ui/setting_watch.h"
#include "ui/settings_window.h"

namespace quarnel {

std::int64_t RunSettingWindows() {
    const SettingsWindowSetup setup = ReadSettingsWindowSetup();
    const SettingsForm form = ReadSettingsForm(GetAutostart(ServiceName, GetProgramPath()));

    SettingsWindowOperations operations = DefaultSettingsWindowOperations();
    operations.store = [](const SettingsValues& values) {
        return StoreSettings(values, DefaultApplyOperations());
    };
    SettingsWindow window(form, setup, std::move(operations));

    // The instance message: code 2 brings the window to the front, code 1 closes it.
    std::unique_ptr<QSocketNotifier> messages;
    const NativeHandle endpoint = InstanceMessageHandle(SettingInstanceGuid);
    if (endpoint >= 0) {
        messages = std::make_unique<QSocketNotifier>(endpoint, QSocketNotifier::Read);
        QObject::connect(messages.get(), &QSocketNotifier::activated, &window, [&window] {
            std::int32_t code = 0;
            for (int i = 0; i < 64 && ReceiveInstanceMessage(SettingInstanceGuid, code); ++i) {
                window.InstanceMessage(code);
            }
        });
    }

    WaitHandle stop = CreateManualEventHandle();
    std::thread watcher;
    if (stop) {
        const std::uint32_t parent = ReadParentProcessId(static_cast<std::uint32_t>(::getpid()));
        watcher = std::thread([&window, &stop, parent] {
            ThreadSettingMain(
                *stop, parent,
                {[&window](const ServiceResult& result) { window.PostStatus(result); },
                 [&window] { window.PostClose(); }});
        });
    } else {
        QLOG(kLogError, "RunSettingProcess", "Unable to create the stop event; no live status");
    }

    window.show();
    window.raise();
    window.activateWindow();
    window.exec();

    if (watcher.joinable()) {
        SetEventHandle(stop);
        watcher.join();
    }
    QLOG(kLogDebug, "RunSettingProcess", "Settings window has been closed");
    return 0;
}

}  // namespace quarnel
