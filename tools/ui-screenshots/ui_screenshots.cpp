// Renders the tray menu, the history window with lines of each kind, the diagnose window, the
// tabs of the settings window and the update window, and, when the display has a notification
// area, the balloon of an attempt that got no answer, in the language the environment chooses,
// as PNG files: ui-screenshots <folder> <suffix>.
// The crash window is taken from a real crash instead, by the crash end-to-end test
// (scripts/screenshots runs it).
// The windows are the real ones; only their outside operations give fixed example answers.

#include <QApplication>
#include <QPainter>
#include <QScreen>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "diagnostics/event_log.h"
#include "ui/image_slots.h"
#include "ui/settings_window.h"
#include "ui/systray_window.h"
#include "ui/update_window.h"

namespace {

using namespace quarnel;

void ProcessEventsFor(int milliseconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (std::chrono::steady_clock::now() < end) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
}

bool Save(QWidget& widget, const std::string& path) {
    const bool saved = widget.grab().save(QString::fromStdString(path), "PNG");
    std::printf("%s %s\n", saved ? "wrote" : "could not write", path.c_str());
    return saved;
}

SystrayOperations ExampleOperations() {
    SystrayOperations operations;
    operations.launchSettings = [] { return true; };
    operations.gatewayAddress = [] { return std::string("198.51.100.1"); };
    operations.openUrl = [](const std::string&) {};
    operations.readHistory = [] {
        return std::vector<HistoryEntry>{
            {"[2026-12-08 09:12:40] nochg 203.0.113.5", 0},
            {"[2026-12-08 08:02:11] dnserr 203.0.113.5", 2},
            {"[2026-12-07 22:45:03] good 203.0.113.5", 0},
            {"[2026-12-07 22:40:17] badauth 203.0.113.4", 3},
            {"[2026-12-07 18:30:55] good 203.0.113.4", 0},
        };
    };
    operations.detections = {[] { return std::string("203.0.113.5"); },
                             [] { return std::string("203.0.113.5"); },
                             [] { return std::string("203.0.113.5"); }};
    return operations;
}

// The settings window with example values, one picture per tab.
bool SaveSettingsTabs(const std::string& prefix, const std::string& suffix) {
    SettingsForm form;
    form.userName = "anna";
    form.password = "secret";
    form.hostName = "home.example.org";
    form.intervals = IntervalEntries(15, form.intervalIndex);
    form.providerIndex = 0;
    form.autostartIndex = 1;
    form.localFilter = true;
    form.localNetworks = {"00:11:22:33:44:55"};
    form.wirelessNetworks = {"cafe", "office"};
    SettingsWindowSetup setup;
    setup.wirelessTab = true;
    setup.currentNetwork = "00:11:22:33:44:55";
    setup.currentWireless = "cafe";
    setup.status.time = 1'796'727'600;
    setup.status.result = "good 203.0.113.5";
    SettingsWindow window(form, setup, SettingsWindowOperations());
    window.show();
    const char* const names[] = {"general", "local", "wireless", "about"};
    bool saved = true;
    for (int tab = 0; tab < window.Tabs().count(); ++tab) {
        window.Tabs().setCurrentIndex(tab);
        ProcessEventsFor(300);
        saved &= Save(window, prefix + "settings-" + names[tab] + suffix);
    }
    return saved;
}

// The update window with an offered version, as a click on its balloon opens it.
bool SaveUpdateWindow(const std::string& path) {
    UpdateWindowOperations operations;
    operations.check = [](bool) { return UpdateOffer{"1.5.2.295", true, ""}; };
    operations.trayAvailable = [] { return false; };
    UpdateWindow window(false, operations);
    window.Start();
    for (int i = 0; i < 100 && !window.isVisible(); ++i) {
        ProcessEventsFor(20);
    }
    ProcessEventsFor(300);
    return Save(window, path);
}

// The balloon of an attempt that got no answer, as the notification area shows it.
bool SaveOutageBalloon(SystrayWindow& tray, const std::string& path) {
    for (int i = 0; i < 100 && !QSystemTrayIcon::isSystemTrayAvailable(); ++i) {
        ProcessEventsFor(50);
    }
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        std::printf("no notification area: %s not written\n", path.c_str());
        return true;
    }
    ServiceResult outage;
    outage.time = 1'796'731'200;
    outage.result = "!noanswer";
    outage.eventId = kEventRecordIdError;
    tray.ShowResult(outage);
    for (int i = 0; i < 100; ++i) {
        ProcessEventsFor(50);
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (widget->inherits("QBalloonTip") && widget->isVisible()) {
                // As the screen shows it: the balloon beside the icon in the notification area.
                ProcessEventsFor(300);
                const QRect shown = widget->frameGeometry()
                                        .united(tray.TrayIcon().geometry())
                                        .adjusted(-8, 0, 8, 8);
                const bool saved =
                    QGuiApplication::primaryScreen()
                        ->grabWindow(0, shown.x(), shown.y(), shown.width(), shown.height())
                        .save(QString::fromStdString(path), "PNG");
                std::printf("%s %s\n", saved ? "wrote" : "could not write", path.c_str());
                return saved;
            }
        }
    }
    std::printf("no balloon appeared: %s not written\n", path.c_str());
    return false;
}

// The update window after the root step refused the package (it was not newer), the reason in
// the session's language on the status line.
bool SaveRefusedUpdateWindow(const std::string& path) {
    UpdateWindowOperations operations;
    operations.check = [](bool) { return UpdateOffer{"1.5.2.295", true, ""}; };
    operations.download = [](const DownloadRequest&) { return DownloadOutcome::NotNewer; };
    operations.trayAvailable = [] { return false; };
    UpdateWindow window(false, operations);
    window.Start();
    for (int i = 0; i < 100 && !window.InstallEnabled(); ++i) {
        ProcessEventsFor(20);
    }
    window.Install();
    for (int i = 0; i < 100 && !window.LastOutcome(); ++i) {
        ProcessEventsFor(20);
    }
    ProcessEventsFor(300);
    return Save(window, path);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: ui-screenshots <folder> <suffix>\n");
        return 2;
    }
    const std::string prefix = std::string(argv[1]) + "/";
    const std::string suffix = std::string("-") + argv[2] + ".png";
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    // As the desktop module does: every window carries the application icon.
    QApplication::setWindowIcon(ApplicationIcon());

    SystrayWindow tray(ExampleOperations());
    tray.Open();
    bool saved = true;

    tray.PrepareMenu();
    tray.Menu().popup(QPoint(20, 20));
    ProcessEventsFor(300);
    saved &= Save(tray.Menu(), prefix + "tray-menu" + suffix);
    tray.Menu().hide();

    tray.ChooseEntry(EntryHistory);
    ServiceResult live;
    live.time = 1'796'727'600;
    live.limit = 1;
    live.result = "good 203.0.113.6";
    live.eventId = kEventRecordIdInformation;
    ProcessEventsFor(300);
    tray.ShowResult(live);
    ProcessEventsFor(300);
    saved &= Save(*tray.History(), prefix + "history" + suffix);

    tray.ChooseEntry(EntryDiagnose);
    ProcessEventsFor(500);
    saved &= Save(*tray.Diagnose(), prefix + "diagnose" + suffix);

    // Nothing of the other windows in front of the notification area.
    tray.History()->close();
    tray.Diagnose()->close();
    saved &= SaveOutageBalloon(tray, prefix + "balloon-no-answer" + suffix);
    saved &= SaveSettingsTabs(prefix, suffix);
    saved &= SaveUpdateWindow(prefix + "update" + suffix);
    saved &= SaveRefusedUpdateWindow(prefix + "update-refused" + suffix);

    // The tray icon set: normal, information, warning, error, four times enlarged.
    QImage icons(4 * 64 + 3 * 8, 64, QImage::Format_ARGB32_Premultiplied);
    icons.fill(Qt::transparent);
    QPainter painter(&icons);
    for (int slot = SlotTrayNormal; slot <= SlotTrayError; ++slot) {
        painter.drawImage(QRect((slot - SlotTrayNormal) * 72, 0, 64, 64), tray.Images()[slot]);
    }
    painter.end();
    if (std::string(argv[2]) == "en") {
        saved &= icons.save(QString::fromStdString(prefix + "tray-icons.png"), "PNG");
    }
    return saved ? 0 : 1;
}
