#include "ui/crash_window.h"

#include <QFont>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <algorithm>
#include <limits>
#include <memory>
#include <thread>
#include <utility>

#include "ddns/crash_upload.h"
#include "diagnostics/log.h"
#include "ui/desktop_texts.h"

namespace quarnel {
namespace {

QFrame* FlatContainer(QWidget* parent, int x, int y, int width, int height) {
    auto* frame = new QFrame(parent);
    frame->setFrameShape(QFrame::Box);
    frame->setFrameShadow(QFrame::Plain);
    frame->setGeometry(x, y, width, height);
    return frame;
}

int ClampToInt(std::uint64_t value) {
    return static_cast<int>(std::min<std::uint64_t>(value, std::numeric_limits<int>::max()));
}

}  // namespace

CrashWindow::CrashWindow(std::string report, Send send, Notice notice)
    : report_(std::move(report)),
      send_(std::move(send)),
      notice_(std::move(notice)),
      mailbox_(std::make_shared<Mailbox>(this)) {
    setWindowTitle(kCrashWindowTitle);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(400, 390);

    QFrame* upper = FlatContainer(this, 7, 7, 386, 126);
    auto* icon = new QLabel(upper);
    icon->setGeometry(10, 10, 32, 32);
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxCritical).pixmap(32, 32));
    auto* heading = new QLabel(kCrashWindowTitle, upper);
    heading->setGeometry(50, 18, 324, 16);
    QFont bold = heading->font();
    bold.setBold(true);
    bold.setPointSize(8);
    heading->setFont(bold);
    status_ = new QLabel(upper);
    status_->setGeometry(10, 50, 364, 16);
    progress_ = new QProgressBar(upper);
    progress_->setGeometry(10, 66, 364, 18);
    progress_->setRange(0, 100);
    progress_->setValue(0);
    progress_->setTextVisible(false);
    send_button_ = new QPushButton(kCrashSendText, upper);
    // 100 pixels wide at the right edge, or as wide as its text needs in the desktop's font.
    const int buttonWidth = std::max(100, send_button_->sizeHint().width());
    send_button_->setGeometry(375 - buttonWidth, 92, buttonWidth, 22);
    connect(send_button_, &QPushButton::clicked, this, [this] { StartSend(); });

    QFrame* lower = FlatContainer(this, 7, 140, 386, 243);
    editor_ = new QPlainTextEdit(lower);
    editor_->setGeometry(1, 1, 384, 241);
    editor_->setReadOnly(true);
    editor_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    editor_->setLineWrapMode(QPlainTextEdit::NoWrap);
    QFont fixed("Courier New", 10);
    fixed.setStyleHint(QFont::TypeWriter);
    editor_->setFont(fixed);
    editor_->setPlainText(QString::fromStdString(report_));

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
}

CrashWindow::~CrashWindow() {
    // An upload still running goes on without the window; what it posts later is dropped.
    mailbox_->Close();
}

void CrashWindow::ShowSentNotice(QWidget* parent) {
    QMessageBox::information(parent, kCrashSentTitle, kCrashSentText);
}

void CrashWindow::OnCrashReportProgress(std::int64_t context, std::uint64_t done,
                                        std::uint64_t total) {
    if (context != kCrashWindowId) {
        return;
    }
    progress_->setMaximum(ClampToInt(total));
    progress_->setValue(ClampToInt(done));
    if (done == total) {
        status_->setText(kCrashFinishedText);
        progress_->setRange(0, 0);  // the moving display
    }
}

void CrashWindow::StartSend() {
    send_button_->setEnabled(false);
    status_->setText(kCrashSendingText);
    QLOG(kLogTrace, "ThreadErrorWindow", "Creating error report thread from window");
    // The thread holds a copy of the sender and reaches the window only through the mailbox
    // (whose work runs on the window's thread while the window lives), so that closing the
    // window while the upload runs ends the window at once.
    std::thread([this, send = send_, mailbox = mailbox_] {
        const std::string answer = send([this, mailbox](std::int64_t context, std::uint64_t done,
                                                        std::uint64_t total, std::uint64_t) {
            mailbox->Post(
                [this, context, done, total] { OnCrashReportProgress(context, done, total); });
        });
        mailbox->Post([this, answer] { Answered(answer); });
    }).detach();
}

void CrashWindow::Answered(const std::string& answer) {
    if (answer.empty()) {
        // The send has given up: the window says so and stays open, the button disabled, with
        // the report selected for copying.
        QLOG(kLogWarn, "ThreadErrorSend", "The crash report could not be sent");
        status_->setText(QString::fromStdString(GetDesktopText(DesktopText::CrashReportNotSent)));
        progress_->setRange(0, 100);
        progress_->setValue(0);
        editor_->selectAll();
        editor_->setFocus();
        return;
    }
    if (IsCrashReportAccepted(answer)) {
        notice_(this);
    }
    close();
}

}  // namespace quarnel
