#pragma once

// The tray: its icon with tooltip and popup menu, the balloons that show each result, and the
// history and diagnose windows it opens. It runs on the user-interface thread; results from
// ThreadSystrayMain arrive through PostResult. All it shows is decided by Qt-free code
// (result_notice.h, the string table, the event-log history).

#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "diagnostics/event_log.h"
#include "ui/desktop_choices.h"
#include "ui/diagnose_window.h"
#include "ui/history_window.h"
#include "ui/image_slots.h"
#include "ui/mailbox.h"
#include "ui/result_notice.h"

namespace quarnel {

// What the tray does outside its own windows; the real ones come from DefaultSystrayOperations,
// tests put in their own.
struct SystrayOperations {
    // False when the settings window cannot be started at all (no way to run it as root).
    std::function<bool()> launchSettings;
    std::function<std::string()> gatewayAddress;
    std::function<void(const std::string& url)> openUrl;
    // Tells the user that an action failed.
    std::function<void(const std::string& text)> reportFailure;
    HistoryWindow::HistoryReader readHistory;
    AddressDetections detections;
};
SystrayOperations DefaultSystrayOperations();

// The last balloon asked for, as the shell was given it.
struct BalloonRequest {
    std::string title;
    std::string message;
    int timeoutSeconds = 0;
    BalloonKind kind = BalloonKind::Information;
};

class SystrayWindow {
  public:
    // balloonTimeoutMs: how long a balloon counts as shown when the desktop never says it was
    // closed (the platform's balloon time-out).
    explicit SystrayWindow(SystrayOperations operations, int balloonTimeoutMs = 30000);
    ~SystrayWindow();
    SystrayWindow(const SystrayWindow&) = delete;
    SystrayWindow& operator=(const SystrayWindow&) = delete;

    // Steps 3 to 7 of the systray process: the menu, the images, the icon set and the tray
    // icon with its tooltip. False when the images could not be made (the tray still runs).
    bool Open();

    QMenu& Menu() { return menu_; }
    QSystemTrayIcon& TrayIcon() { return tray_; }
    ImageSlots& Images() { return images_; }
    int TraySlot() const { return traySlot_; }
    std::int64_t PendingBalloons() const;
    const BalloonRequest& LastBalloon() const { return lastBalloon_; }
    HistoryWindow* History() { return history_.data(); }
    DiagnoseWindow* Diagnose() { return diagnose_.data(); }
    QObject& Context() { return context_; }

    // The right button: the router entry follows whether a gateway is known.
    void PrepareMenu();
    // The menu's actions by command id.
    void ChooseEntry(int id);
    // A click on the icon itself.
    void Activated(QSystemTrayIcon::ActivationReason reason);

    // A result from ThreadSystrayMain, from any thread.
    void PostResult(const ServiceResult& result);
    // On the user-interface thread: the balloon (unless Limit) and the history line.
    void ShowResult(const ServiceResult& result);
    void ShowResultBalloon(std::uint32_t eventId, const std::string& code,
                           const std::string& parameter);
    bool ShowTrayBalloon(int trayIconId, const std::string& title, const std::string& message,
                         int timeoutSeconds, BalloonKind kind);
    void RestoreTrayIcon();
    // The balloon events of the shell: shown, hidden or timed out, clicked.
    void BalloonShown();
    void BalloonHidden(int balloon);
    void BalloonClicked();
    // The icon reports any click on it while a balloon shows as a click on the balloon too
    // (before its own activation): what the click was is decided once both have arrived.
    void MessageClicked();

    void OpenHistoryWindow();
    void OpenDiagnoseWindow();
    // An instance message code: 0 opens the settings, 1 closes the tray.
    void InstanceMessage(std::int32_t code);
    // Closing the tray window ends the process's event loop.
    void Close();
    bool Closed() const { return closed_; }

  private:
    void OpenSettings();
    void BuildMenu();
    void WatchForTrayHost();
    void SetTraySlot(int slot);
    void RetireBalloon(int balloon);

    SystrayOperations operations_;
    int balloonTimeoutMs_;
    QObject context_;
    QMenu menu_;
    QSystemTrayIcon tray_;
    QTimer hostWatch_;
    bool hostSeen_ = false;
    ImageSlots images_;
    int traySlot_ = SlotTrayNormal;
    int lastHistorySlot_ = SlotAccept;
    BalloonRequest lastBalloon_;
    // The balloons on screen, by number, each with the timer of its time-out.
    std::map<int, std::unique_ptr<QTimer>> balloons_;
    int nextBalloon_ = 1;
    // A click reported on a balloon, not decided yet, and whether the icon was clicked with it.
    bool balloonClickPending_ = false;
    bool iconClickedWithBalloon_ = false;
    QPointer<HistoryWindow> history_;
    QPointer<DiagnoseWindow> diagnose_;
    SharedMailbox mailbox_;
    bool closed_ = false;
};

}  // namespace quarnel
