#include "ui/update_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QFrame>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSocketNotifier>
#include <QStyle>
#include <QTextBrowser>
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <memory>
#include <utility>

#include "diagnostics/log.h"
#include "platform/exchange_stop.h"
#include "resources/texts.h"
#include "settings/registry.h"
#include "settings/schema.h"
#include "startup/instance.h"
#include "ui/desktop_choices.h"
#include "ui/gadget_helpers.h"
#include "ui/open_link.h"
#include "ui/result_notice.h"
#include "update/privileged_install.h"

namespace quarnel {
namespace {

QString Text(int id) {
    return QString::fromStdString(LoadResourceText(id));
}

QFrame* MakeFrame(QWidget* parent, int x, int y, int width, int height) {
    auto* frame = new QFrame(parent);
    frame->setFrameShape(QFrame::Box);
    frame->setFrameShadow(QFrame::Plain);
    frame->setGeometry(x, y, width, height);
    return frame;
}

}  // namespace

UpdateWindow::UpdateWindow(bool beta, UpdateWindowOperations operations)
    : beta_(beta), operations_(std::move(operations)) {
    setWindowTitle(Text(100) + " - " + Text(35200));
    setFixedSize(400, 390);

    QFrame* top = MakeFrame(this, 7, 7, 386, 126);
    auto* icon = new QLabel(top);
    icon->setGeometry(10, 10, 32, 32);
    const QIcon appIcon = QApplication::windowIcon().isNull()
                              ? style()->standardIcon(QStyle::SP_MessageBoxInformation)
                              : QApplication::windowIcon();
    icon->setPixmap(appIcon.pixmap(32, 32));
    auto* title = new QLabel(Text(35200), top);
    title->setGeometry(50, 18, 324, 16);
    SetGadgetFontStyle(*title, title->font().pointSize(), true);
    // Two lines high, below the icon, so that a reason for a refusal fits whole in either
    // language; the progress bar moves down a little for it. The version text of the maker's
    // page is shown as plain text, never as rich text.
    status_ = new QLabel(Text(35205), top);
    status_->setObjectName("status");
    status_->setGeometry(10, 43, 364, 28);
    status_->setWordWrap(true);
    status_->setAlignment(Qt::AlignLeft | Qt::AlignBottom);
    status_->setTextFormat(Qt::PlainText);
    progress_ = new QProgressBar(top);
    progress_->setGeometry(10, 72, 364, 16);
    progress_->setRange(0, 100);
    progress_->setValue(0);
    progress_->setTextVisible(false);
    install_ = new QPushButton(Text(35201), top);
    // 100 pixels wide, or as wide as its text needs (the German one does not fit), with the
    // right edge kept in place.
    const int installWidth = std::max(100, install_->sizeHint().width());
    install_->setGeometry(375 - installWidth, 92, installWidth, 22);
    install_->setEnabled(false);
    connect(install_, &QPushButton::clicked, this, [this] { Install(); });

    // The change log as a link: the window does not carry a web engine, and a page from the
    // network is not rendered inside the program.
    QFrame* bottom = MakeFrame(this, 7, 140, 386, 243);
    auto* changeLog = new QTextBrowser(bottom);
    changeLog->setGeometry(1, 1, 384, 241);
    // Opened as the desktop's user, never as root (the window runs as root after the settings).
    changeLog->setOpenLinks(false);
    connect(changeLog, &QTextBrowser::anchorClicked, this,
            [this](const QUrl& link) { OpenLinkFromWindow(this, link.toString().toStdString()); });
    const QString url = QString::fromStdString(MakerSiteUrl("/changelog.html")).toHtmlEscaped();
    changeLog->setHtml("<p><a href=\"" + url + "\">" + url + "</a></p>");
}

UpdateWindow::~UpdateWindow() {
    cancelled_ = true;
    for (std::thread& checker : checkers_) {
        checker.join();
    }
    if (downloader_.joinable()) {
        downloader_.join();
    }
    if (stoppedExchanges_) {
        AllowNetworkExchanges();  // the process ends; a test's next window needs the network
    }
}

void UpdateWindow::closeEvent(QCloseEvent* event) {
    tray_.hide();
    // A closed window wants nothing more: the download or check in progress ends within about
    // a second, whatever the server does, and the worker sees that it must not install.
    cancelled_ = true;
    if (downloader_.joinable() || !checkers_.empty()) {
        QLOG(kLogInfo, "UpdateWindowCallback", "Window closed: the update is cancelled");
        StopNetworkExchanges();
        stoppedExchanges_ = true;
    }
    QWidget::closeEvent(event);
    if (closed_) {
        closed_();
    }
}

void UpdateWindow::InstanceMessage(std::int32_t code) {
    switch (UpdateInstanceAction(code)) {
        case WindowAction::Close:
            close();
            break;
        case WindowAction::CheckChannel:
            CheckChannelAgain();
            break;
        default:
            break;
    }
}

void UpdateWindow::CheckChannelAgain() {
    const bool beta =
        operations_.storedBeta
            ? operations_.storedBeta()
            : ReadRegistryDword(RegistryHive::LocalMachine, kProductKey, kValueSoftwareBeta) != 0;
    if (beta == beta_ || downloader_.joinable() || cancelled_) {
        return;
    }
    QLOG(kLogInfo, "CheckSoftwareVersion",
         std::string("The channel changed to ") + (beta ? "beta" : "release") + "; checking again");
    beta_ = beta;
    tray_.hide();
    balloonMessage_.clear();
    install_->setEnabled(false);
    status_->setText(Text(35205));
    StartCheck();
}

void UpdateWindow::Post(std::function<void()> work) {
    QMetaObject::invokeMethod(this, std::move(work), Qt::QueuedConnection);
}

void UpdateWindow::Start() {
    StartCheck();
}

void UpdateWindow::StartCheck() {
    const bool beta = beta_;
    const int generation = ++checkGeneration_;
    auto check = operations_.check;
    checkers_.emplace_back([this, beta, check, generation] {
        const UpdateOffer offer = check(beta);
        Post([this, offer, generation] {
            if (generation == checkGeneration_) {
                OfferChecked(offer);
            }
        });
    });
}

void UpdateWindow::OfferChecked(const UpdateOffer& offer) {
    if (cancelled_) {
        return;
    }
    if (!offer.newer) {
        QLOG(kLogDebug, "CheckSoftwareVersion",
             offer.version.empty() ? std::string("No version published for the channel")
                                   : "No newer version than this build: " + offer.version);
        if (isVisible()) {
            status_->setText(QString::fromStdString(GetLocalizedText(35207, offer.version)));
        } else {
            close();
        }
        return;
    }
    QLOG(kLogInfo, "CheckSoftwareVersion", "Version " + offer.version + " is available");
    const std::string message = UpdateOfferBalloon(offer.version).message;
    status_->setText(QString::fromStdString(message));
    install_->setEnabled(true);
    if (!operations_.trayAvailable()) {
        OpenFromTray();
        return;
    }
    // A balloon that goes unread leaves the icon, which still opens the window when clicked.
    tray_.setIcon(style()->standardIcon(QStyle::SP_MessageBoxInformation));
    tray_.setToolTip(Text(35200));
    tray_.disconnect(this);  // a second offer (another channel) connects once more
    connect(&tray_, &QSystemTrayIcon::messageClicked, this, [this] { OpenFromTray(); });
    connect(&tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
        if (r == QSystemTrayIcon::Trigger || r == QSystemTrayIcon::DoubleClick) {
            OpenFromTray();
        }
    });
    tray_.show();
    balloonMessage_ = message;
    ShowBalloonAtIcon(tray_, Text(100), QString::fromStdString(message),
                      QSystemTrayIcon::Information, 30000);
}

void UpdateWindow::OpenFromTray() {
    // Called from the icon's and the balloon's own click handlers.
    HideTrayIconLater(tray_);
    show();
    raise();
    activateWindow();
}

void UpdateWindow::Install() {
    if (!install_->isEnabled() || downloader_.joinable()) {
        return;
    }
    install_->setEnabled(false);
    lastOutcome_.reset();
    status_->setText(Text(35208));
    progress_->setRange(0, 100);
    progress_->setValue(0);
    DownloadRequest request;
    request.beta = beta_;
    request.folderBase = operations_.folderBase;
    request.cancelled = &cancelled_;
    const std::atomic<bool>* cancelled = &cancelled_;
    const PackageInstaller install =
        operations_.install
            ? operations_.install
            : PackageInstaller([cancelled](const std::string& path, const std::string& version) {
                  return StartPrivilegedInstall(path, version, cancelled);
              });
    // Only a verified package reaches the installer; the status says so before it runs.
    request.install = [this, install](const std::string& path, const std::string& version) {
        Post([this] { status_->setText(Text(35210)); });
        return install(path, version);
    };
    request.onProgress = [this](std::int64_t, std::uint64_t received, std::uint64_t total,
                                std::uint64_t) {
        Post([this, received, total] { DownloadProgress(received, total); });
    };
    auto download = operations_.download;
    downloader_ = std::thread([this, request, download] {
        const DownloadOutcome outcome = download(request);
        Post([this, outcome] { DownloadEnded(outcome); });
    });
}

void UpdateWindow::DownloadProgress(std::uint64_t received, std::uint64_t total) {
    if (lastOutcome_) {
        return;
    }
    const DownloadProgressShown shown = ShowDownloadProgress(received, total);
    progress_->setRange(0, shown.moving ? 0 : 100);
    progress_->setValue(shown.percent);
    if (shown.checkingSignature) {
        status_->setText(Text(35209));
    }
}

void UpdateWindow::DownloadEnded(DownloadOutcome outcome) {
    if (downloader_.joinable()) {
        downloader_.join();
    }
    lastOutcome_ = outcome;
    progress_->setRange(0, 100);
    QLOG(outcome == DownloadOutcome::Installing ? kLogInfo : kLogWarn, "DownloadSoftwareUpdate",
         DownloadOutcomeText(outcome));
    const DownloadEndShown shown = ShowDownloadEnd(outcome);
    if (!shown.changesWindow) {
        return;
    }
    status_->setText(Text(shown.statusTextId));
    progress_->setValue(shown.percent);
    install_->setEnabled(shown.installEnabled);
    if (shown.closeWindow) {
        close();
    }
}

QString UpdateWindow::StatusText() const {
    return status_->text();
}
bool UpdateWindow::InstallEnabled() const {
    return install_->isEnabled();
}

std::int64_t RunUpdateWindows(bool beta) {
    // The window stays hidden unless an update is offered, so the mode runs its own loop until
    // the window closes rather than one that shows it.
    UpdateWindow window(beta, UpdateWindowOperations{});
    QEventLoop loop;
    window.OnClosed([&loop] { loop.quit(); });
    // The instance message: quit (/quit) closes the window and so cancels; a changed channel is
    // checked again.
    std::unique_ptr<QSocketNotifier> messages;
    const NativeHandle endpoint = InstanceMessageHandle(UpdateInstanceGuid);
    if (endpoint >= 0) {
        messages = std::make_unique<QSocketNotifier>(endpoint, QSocketNotifier::Read);
        QObject::connect(messages.get(), &QSocketNotifier::activated, &window, [&window] {
            std::int32_t code = 0;
            for (int i = 0; i < 64 && ReceiveInstanceMessage(UpdateInstanceGuid, code); ++i) {
                window.InstanceMessage(code);
            }
        });
    }
    window.Start();
    loop.exec();
    return 0;
}

}  // namespace quarnel
