// The entry points of the desktop module (see ui_module.h).

#include "ui/ui_module.h"

#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <cstdio>
#include <string>

#include "ddns/crash_upload.h"
#include "diagnostics/log.h"
#include "ui/crash_window.h"
#include "ui/settings_process.h"
#include "ui/systray_process.h"
#include "ui/update_window.h"

namespace quarnel {
namespace {

// Qt's own messages go to the debug log. A fatal one (no platform plugin, a display that cannot
// be opened) becomes one line on standard error and ends the mode with its failure code instead
// of an abort.
void RouteQtMessage(QtMsgType type, const QMessageLogContext&, const QString& message) {
    const std::string text = message.toStdString();
    switch (type) {
        case QtFatalMsg: {
            const std::string firstLine = text.substr(0, text.find('\n'));
            QLOG(kLogFatal, "Qt", text);
            std::fprintf(stderr, "quarnel-updater: the desktop could not be opened: %s\n",
                         firstLine.c_str());
            std::fflush(stderr);
            ::_exit(0);
        }
        case QtCriticalMsg:
        case QtWarningMsg:
            QLOG(kLogWarn, "Qt", text);
            break;
        case QtInfoMsg:
        case QtDebugMsg:
            QLOG(kLogDebug, "Qt", text);
            break;
    }
}

}  // namespace
}  // namespace quarnel

extern "C" __attribute__((visibility("default"))) std::int32_t quarnel_ui_module_version() {
    return quarnel::kUiModuleVersion;
}

namespace {

int argc = 1;
char name[] = "quarnel-updater";
char* argv[] = {name, nullptr};

}  // namespace

extern "C" __attribute__((visibility("default"))) std::int64_t quarnel_ui_run_systray() {
    qInstallMessageHandler(quarnel::RouteQtMessage);
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    return quarnel::RunSystrayWindows();
}

extern "C" __attribute__((visibility("default"))) std::int64_t quarnel_ui_run_setting() {
    qInstallMessageHandler(quarnel::RouteQtMessage);
    QApplication application(argc, argv);
    return quarnel::RunSettingWindows();
}

extern "C" __attribute__((visibility("default"))) std::int64_t quarnel_ui_run_crash_window(
    const char* report, std::size_t size) {
    qInstallMessageHandler(quarnel::RouteQtMessage);
    QApplication application(argc, argv);
    // The window waits for the user; the machine's other work comes first meanwhile.
    ::setpriority(PRIO_PROCESS, 0, 10);
    const std::string text(report, size);
    const auto send = [text](const quarnel::HttpProgressCallback& onProgress) {
        return quarnel::SendCrashReport(text, onProgress);
    };
    quarnel::CrashWindow window(text, send);
    window.show();
    window.raise();
    window.activateWindow();
    window.exec();
    return 0;
}

extern "C" __attribute__((visibility("default"))) std::int64_t quarnel_ui_run_update(
    std::int32_t beta) {
    qInstallMessageHandler(quarnel::RouteQtMessage);
    QApplication application(argc, argv);
    return quarnel::RunUpdateWindows(beta != 0);
}
