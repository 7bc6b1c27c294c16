// The entry points of the desktop module (see ui_module.h).

#include "ui/ui_module.h"

#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "ddns/crash_upload.h"
#include "diagnostics/log.h"
#include "ui/crash_window.h"
#include "ui/image_slots.h"
#include "ui/settings_process.h"
#include "ui/systray_process.h"
#include "ui/update_window.h"

namespace quarnel {
namespace {

// Set when the display Qt was asked for did not answer: the fatal message that follows only
// advises reinstalling the program, which would not help.
bool displayUnreachable = false;

// The one line a desktop that cannot be opened gives on standard error.
std::string DesktopFailureLine(const std::string& fatal) {
    if (displayUnreachable) {
        const char* display = std::getenv("DISPLAY");
        const char* wayland = std::getenv("WAYLAND_DISPLAY");
        const std::string name = display != nullptr && *display != '\0'   ? display
                                 : wayland != nullptr && *wayland != '\0' ? wayland
                                                                          : "";
        return "the display " + (name.empty() ? std::string() : name + " ") +
               "could not be reached";
    }
    // The first sentence says what failed; the rest is Qt's advice for its own installation.
    const std::string firstLine = fatal.substr(0, fatal.find('\n'));
    const std::size_t sentence = firstLine.find(". ");
    return "the desktop could not be opened: " +
           (sentence == std::string::npos ? firstLine : firstLine.substr(0, sentence + 1));
}

// Qt's own messages go to the debug log. A fatal one (no platform plugin, a display that cannot
// be opened) becomes one line on standard error and ends the mode with its failure code instead
// of an abort.
void RouteQtMessage(QtMsgType type, const QMessageLogContext&, const QString& message) {
    const std::string text = message.toStdString();
    switch (type) {
        case QtFatalMsg: {
            QLOG(kLogFatal, "Qt", text);
            std::fprintf(stderr, "quarnel-updater: %s\n", DesktopFailureLine(text).c_str());
            std::fflush(stderr);
            ::_exit(0);
        }
        case QtCriticalMsg:
        case QtWarningMsg:
            if (text.find("could not connect to display") != std::string::npos ||
                text.find("Failed to create wl_display") != std::string::npos) {
                displayUnreachable = true;
            }
            QLOG(kLogWarn, "Qt", text);
            break;
        case QtInfoMsg:
        case QtDebugMsg:
            QLOG(kLogDebug, "Qt", text);
            break;
    }
}

// Every window of the module carries the application icon.
void PrepareApplication() {
    QApplication::setWindowIcon(ApplicationIcon());
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
    quarnel::PrepareApplication();
    QApplication::setQuitOnLastWindowClosed(false);
    return quarnel::RunSystrayWindows();
}

extern "C" __attribute__((visibility("default"))) std::int64_t quarnel_ui_run_setting() {
    qInstallMessageHandler(quarnel::RouteQtMessage);
    QApplication application(argc, argv);
    quarnel::PrepareApplication();
    return quarnel::RunSettingWindows();
}

extern "C" __attribute__((visibility("default"))) std::int64_t quarnel_ui_run_crash_window(
    const char* report, std::size_t size) {
    qInstallMessageHandler(quarnel::RouteQtMessage);
    QApplication application(argc, argv);
    quarnel::PrepareApplication();
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
    quarnel::PrepareApplication();
    return quarnel::RunUpdateWindows(beta != 0);
}
