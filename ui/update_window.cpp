#include "ui/update_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QFrame>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QTextBrowser>
#include <algorithm>
#include <cctype>

#include "diagnostics/log.h"
#include "resources/texts.h"
#include "ui/gadget_helpers.h"
#include "ui/open_link.h"
#include "ui/result_notice.h"
#include "update/package_installer.h"

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
    // The status line shows the version text of the maker's page: never as rich text.
    status_ = PlainTextLabel(top);
    status_->setObjectName("status");
    status_->setText(Text(35205));
    status_->setGeometry(10, 50, 364, 16);
    progress_ = new QProgressBar(top);
    progress_->setGeometry(10, 66, 364, 18);
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
    if (checker_.joinable()) {
        checker_.join();
    }
    if (downloader_.joinable()) {
        downloader_.join();
    }
}

void UpdateWindow::closeEvent(QCloseEvent* event) {
    tray_.hide();
    QWidget::closeEvent(event);
    if (closed_) {
        closed_();
    }
}

void UpdateWindow::Post(std::function<void()> work) {
    QMetaObject::invokeMethod(this, std::move(work), Qt::QueuedConnection);
}

void UpdateWindow::Start() {
    const bool beta = beta_;
    auto check = operations_.check;
    checker_ = std::thread([this, beta, check] {
        const UpdateOffer offer = check(beta);
        Post([this, offer] { OfferChecked(offer); });
    });
}

void UpdateWindow::OfferChecked(const UpdateOffer& offer) {
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
    const std::string message =
        CleanDisplayText(GetLocalizedText(35206, offer.version), kMaximumShownText);
    status_->setText(QString::fromStdString(message));
    install_->setEnabled(true);
    if (!operations_.trayAvailable()) {
        OpenFromTray();
        return;
    }
    // A balloon that goes unread leaves the icon, which still opens the window when clicked.
    tray_.setIcon(style()->standardIcon(QStyle::SP_MessageBoxInformation));
    tray_.setToolTip(Text(35200));
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
    const PackageInstaller install =
        operations_.install ? operations_.install : PackageInstaller(InstallPackage);
    // Only a verified package reaches the installer; the status says so before it runs.
    request.install = [this, install](const std::string& path) {
        Post([this] { status_->setText(Text(35210)); });
        return install(path);
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
    if (total == 0) {
        progress_->setRange(0, 0);  // size unknown: a moving bar
        return;
    }
    progress_->setRange(0, 100);
    progress_->setValue(static_cast<int>(std::min<std::uint64_t>(received, total) * 100 / total));
    if (received >= total) {
        status_->setText(Text(35209));
        progress_->setRange(0, 0);  // moves while the signature is checked
    }
}

void UpdateWindow::DownloadEnded(DownloadOutcome outcome) {
    if (downloader_.joinable()) {
        downloader_.join();
    }
    lastOutcome_ = outcome;
    progress_->setRange(0, 100);
    if (outcome == DownloadOutcome::Installing) {
        QLOG(kLogInfo, "DownloadSoftwareUpdate", "The update has been installed");
        status_->setText(Text(35210));
        progress_->setValue(100);
        close();
        return;
    }
    // Unlike the silent original, the reason is shown; Install is there again for a retry.
    std::string reason = DownloadOutcomeText(outcome);
    reason[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(reason[0])));
    QLOG(kLogWarn, "DownloadSoftwareUpdate", reason);
    status_->setText(QString::fromStdString(reason));
    progress_->setValue(0);
    install_->setEnabled(true);
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
    window.Start();
    loop.exec();
    return 0;
}

}  // namespace quarnel
