#include "ui/systray_window.h"

#include <QApplication>
#include <QCursor>
#include <QTimer>
#include <cstddef>
#include <utility>

#include "ddns/address_detection.h"
#include "ddns/update_result.h"
#include "diagnostics/log.h"
#include "libraries/src/adapter/adapter.h"
#include "platform/global_handles.h"
#include "resources/texts.h"
#include "startup/settings_launch.h"
#include "ui/desktop_texts.h"
#include "ui/gadget_helpers.h"
#include "ui/open_link.h"

namespace quarnel {
namespace {

QString Text(int textId) {
    return QString::fromStdString(LoadResourceText(textId));
}

QSystemTrayIcon::MessageIcon BalloonIcon(BalloonKind kind) {
    switch (kind) {
        case BalloonKind::Information:
            return QSystemTrayIcon::Information;
        case BalloonKind::Warning:
            return QSystemTrayIcon::Warning;
        case BalloonKind::Error:
            break;
    }
    return QSystemTrayIcon::Critical;
}

}  // namespace

SystrayOperations DefaultSystrayOperations() {
    SystrayOperations operations;
    operations.launchSettings = [] {
        if (!CanRunElevated()) {
            return false;
        }
        LaunchSettings();
        return true;
    };
    operations.gatewayAddress = GetGatewayIPAddress;
    operations.openUrl = [](const std::string& url) { OpenLinkFromWindow(nullptr, url); };
    operations.reportFailure = [](const std::string& text) { ShowFailureBox(nullptr, text); };
    operations.readHistory = FillHistoryFromEventLog;
    operations.detections = {GetIPAddressHTTPS, GetIPAddressHTTP, GetIPAddressDNS};
    return operations;
}

SystrayWindow::SystrayWindow(SystrayOperations operations, int balloonTimeoutMs)
    : operations_(std::move(operations)),
      balloonTimeoutMs_(balloonTimeoutMs),
      mailbox_(std::make_shared<Mailbox>(&context_)) {
    globalHandles.pendingBalloons.store(0);
}

SystrayWindow::~SystrayWindow() {
    mailbox_->Close();
    delete history_.data();
    delete diagnose_.data();
}

bool SystrayWindow::Open() {
    BuildMenu();
    const bool images = images_.LoadStatusImages();
    const bool icons = images_.BuildTrayIconSet();

    tray_.setContextMenu(&menu_);
    tray_.setToolTip(Text(100));
    SetTraySlot(SlotTrayNormal);
    QObject::connect(&tray_, &QSystemTrayIcon::activated, &context_,
                     [this](QSystemTrayIcon::ActivationReason reason) { Activated(reason); });
    QObject::connect(&tray_, &QSystemTrayIcon::messageClicked, &context_,
                     [this] { MessageClicked(); });
    tray_.show();
    // Qt puts the icon into a notification area as soon as one appears, and again when the
    // desktop's panel restarts; the log says when there is none and where the icon is once
    // there is one again.
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        QLOG(kLogDebug, "RunSystrayProcess",
             "No notification area yet; the icon appears when one starts");
    }
    hostWatch_.setInterval(1000);
    QObject::connect(&hostWatch_, &QTimer::timeout, &context_, [this] { WatchForTrayHost(); });
    hostWatch_.start();
    WatchForTrayHost();
    return images && icons;
}

void SystrayWindow::WatchForTrayHost() {
    const bool available = QSystemTrayIcon::isSystemTrayAvailable();
    if (hostSeen_ && !available) {
        hostSeen_ = false;
        QLOG(kLogDebug, "RunSystrayProcess",
             "The notification area has gone; the icon comes back when it restarts");
        return;
    }
    const QRect place = tray_.geometry();
    if (hostSeen_ || !available || !TrayIconPlaced(tray_)) {
        return;
    }
    hostSeen_ = true;
    QLOG(kLogDebug, "RunSystrayProcess",
         "Tray icon shown in the notification area at " + std::to_string(place.x()) + "," +
             std::to_string(place.y()) + " (" + std::to_string(place.width()) + "x" +
             std::to_string(place.height()) + ")");
}

void SystrayWindow::BuildMenu() {
    for (const auto& [id, textId] : kTrayMenu) {
        if (id == 0) {
            menu_.addSeparator();
            continue;
        }
        QAction* action = menu_.addAction(Text(textId));
        action->setData(id);
        QObject::connect(action, &QAction::triggered, &context_,
                         [this, entry = id] { ChooseEntry(entry); });
    }
    SetMenuItemState(menu_, EntrySettings, kMenuStateDefault);
    QObject::connect(&menu_, &QMenu::aboutToShow, &context_, [this] { PrepareMenu(); });
}

std::int64_t SystrayWindow::PendingBalloons() const {
    return globalHandles.pendingBalloons.load();
}

void SystrayWindow::PrepareMenu() {
    QLOG(kLogDebug, "SystrayWindowCallback", "Showing the popup menu");
    const bool gateway = !operations_.gatewayAddress().empty();
    SetMenuItemState(menu_, EntryRouter, gateway ? kMenuStateEnabled : kMenuStateDisabled);
}

void SystrayWindow::ChooseEntry(int id) {
    switch (id) {
        case EntrySettings:
            OpenSettings();
            break;
        case EntryHistory:
            OpenHistoryWindow();
            break;
        case EntryDiagnose:
            OpenDiagnoseWindow();
            break;
        case EntryRouter: {
            const std::string gateway = operations_.gatewayAddress();
            if (!gateway.empty()) {
                operations_.openUrl("http://" + gateway);
            }
            break;
        }
        case EntryQuit:
            Close();
            break;
        default:
            break;
    }
}

void SystrayWindow::Activated(QSystemTrayIcon::ActivationReason reason) {
    if (balloonClickPending_) {
        iconClickedWithBalloon_ = true;
    }
    if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) {
        OpenSettings();
    }
}

void SystrayWindow::MessageClicked() {
    // A click on the icon: the cursor is on it. The activation of the icon that follows in the
    // same mouse event tells the same, also where the icon's place is not known.
    const QRect icon = tray_.geometry();
    iconClickedWithBalloon_ = !icon.isEmpty() && icon.contains(QCursor::pos());
    if (balloonClickPending_) {
        return;
    }
    balloonClickPending_ = true;
    QTimer::singleShot(0, &context_, [this] {
        balloonClickPending_ = false;
        if (iconClickedWithBalloon_) {
            // The balloon went with the click; the icon's own activation has done what its button
            // asks for: the menu for the right one, the settings for the left one.
            if (!balloons_.empty()) {
                RetireBalloon(balloons_.rbegin()->first);
            }
            RestoreTrayIcon();
            return;
        }
        BalloonClicked();
    });
}

void SystrayWindow::OpenSettings() {
    QLOG(kLogInfo, "SystrayWindowCallback", "Opening the settings window");
    if (!operations_.launchSettings()) {
        const std::string text = GetDesktopText(DesktopText::SettingsUnavailable);
        QLOG(kLogError, "SystrayWindowCallback", text);
        if (operations_.reportFailure) {
            operations_.reportFailure(text);
        }
    }
}

void SystrayWindow::PostResult(const ServiceResult& result) {
    mailbox_->Post([this, result] { ShowResult(result); });
}

void SystrayWindow::ShowResult(const ServiceResult& result) {
    const ResultNotice notice = MakeResultNotice(result, lastHistorySlot_);
    if (notice.showBalloon) {
        QLOG(kLogTrace, "ThreadSystrayMain", "Sending balloon message");
        ShowResultBalloon(notice.eventId, notice.code, notice.parameter);
    }
    if (history_ != nullptr) {
        QLOG(kLogTrace, "ThreadSystrayMain", "Updating gadget entries");
        lastHistorySlot_ = notice.historySlot;
        history_->InsertLiveLine(notice.historyLine, notice.historySlot);
    }
}

void SystrayWindow::ShowResultBalloon(std::uint32_t eventId, const std::string& code,
                                      const std::string& parameter) {
    const TrayBalloon balloon = ResultBalloon(eventId, code, parameter);
    SetTraySlot(balloon.traySlot);
    ShowTrayBalloon(0, balloon.title, balloon.message, balloon.timeoutSeconds, balloon.kind);
}

bool SystrayWindow::ShowTrayBalloon(int /*trayIconId*/, const std::string& title,
                                    const std::string& message, int timeoutSeconds,
                                    BalloonKind kind) {
    lastBalloon_ = {CleanDisplayText(title, kBalloonTitleLength),
                    CleanDisplayText(message, kBalloonTextLength), timeoutSeconds, kind};
    ShowBalloonAtIcon(tray_, QString::fromStdString(lastBalloon_.title),
                      QString::fromStdString(lastBalloon_.message), BalloonIcon(kind),
                      timeoutSeconds * 1000);
    QLOG(kLogDebug, "ShowTrayBalloon",
         "Balloon shown: " + lastBalloon_.title + " - " + lastBalloon_.message);
    // Qt reports clicks only; the balloon counts as shown until it is clicked or its time-out
    // passes.
    BalloonShown();
    return tray_.isVisible();
}

void SystrayWindow::BalloonShown() {
    const int balloon = nextBalloon_++;
    auto timer = std::make_unique<QTimer>();
    timer->setSingleShot(true);
    QObject::connect(timer.get(), &QTimer::timeout, &context_,
                     [this, balloon] { BalloonHidden(balloon); });
    timer->start(balloonTimeoutMs_);
    balloons_[balloon] = std::move(timer);
    globalHandles.pendingBalloons.store(static_cast<std::int64_t>(balloons_.size()));
}

void SystrayWindow::BalloonHidden(int balloon) {
    RetireBalloon(balloon);
    RestoreTrayIcon();
}

void SystrayWindow::BalloonClicked() {
    // The balloon on top, the newest, is the one that was clicked.
    if (!balloons_.empty()) {
        RetireBalloon(balloons_.rbegin()->first);
    }
    RestoreTrayIcon();
    OpenSettings();
}

void SystrayWindow::RetireBalloon(int balloon) {
    balloons_.erase(balloon);
    globalHandles.pendingBalloons.store(static_cast<std::int64_t>(balloons_.size()));
}

void SystrayWindow::RestoreTrayIcon() {
    SetTraySlot(TraySlotAfterBalloon(PendingBalloons(), traySlot_));
}

void SystrayWindow::SetTraySlot(int slot) {
    traySlot_ = slot;
    tray_.setIcon(images_.Icon(slot));
}

void SystrayWindow::OpenHistoryWindow() {
    if (history_ != nullptr) {
        BringToFront(*history_);
        return;
    }
    history_ = new HistoryWindow(images_, operations_.readHistory);
    history_->setAttribute(Qt::WA_DeleteOnClose);
    BringToFront(*history_);
    history_->StartFiller();
}

void SystrayWindow::OpenDiagnoseWindow() {
    if (diagnose_ != nullptr) {
        BringToFront(*diagnose_);
        return;
    }
    diagnose_ = new DiagnoseWindow(operations_.detections);
    diagnose_->setAttribute(Qt::WA_DeleteOnClose);
    BringToFront(*diagnose_);
}

void SystrayWindow::InstanceMessage(std::int32_t code) {
    switch (TrayInstanceAction(code)) {
        case WindowAction::OpenSettings:
            OpenSettings();
            break;
        case WindowAction::Close:
            Close();
            break;
        default:
            break;
    }
}

void SystrayWindow::Close() {
    closed_ = true;
    tray_.hide();
    if (history_ != nullptr) {
        history_->close();
    }
    if (diagnose_ != nullptr) {
        diagnose_->close();
    }
    QApplication::quit();
}

}  // namespace quarnel
