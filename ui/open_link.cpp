#include "ui/open_link.h"

#include <QApplication>
#include <QPointer>
#include <thread>

#include "resources/texts.h"
#include "ui/link_opening.h"
#include "ui/result_notice.h"

namespace quarnel {
namespace {

QMessageBox* ShowBox(QWidget* parent, const QString& text) {
    auto* box = new QMessageBox(QMessageBox::Warning, QString::fromStdString(LoadResourceText(100)),
                                text, QMessageBox::Ok, parent);
    box->setTextFormat(Qt::PlainText);
    box->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setObjectName("failure");
    box->show();
    return box;
}

}  // namespace

QMessageBox* ShowAddressBox(QWidget* parent, DesktopText text, const std::string& url) {
    return ShowBox(parent, QString::fromStdString(GetDesktopText(text) + "\n\n" +
                                                  CleanDisplayText(url, kMaximumShownText)));
}

QMessageBox* ShowFailureBox(QWidget* parent, const std::string& text) {
    return ShowBox(parent, QString::fromStdString(text));
}

void OpenLinkFromWindow(QWidget* parent, const std::string& url, const std::string& opener) {
    QPointer<QWidget> window(parent);
    // The application outlives every window, so the answer always has somewhere to go.
    QObject* receiver = QApplication::instance();
    std::thread([window, url, opener, receiver] {
        const LinkOutcome outcome = OpenLink(url, opener);
        if (outcome == LinkOutcome::Opened) {
            return;
        }
        QMetaObject::invokeMethod(
            receiver,
            [window, url, outcome] {
                ShowAddressBox(window.data(),
                               outcome == LinkOutcome::NoDesktopUser ? DesktopText::OpenAddress
                                                                     : DesktopText::LinkNotOpened,
                               url);
            },
            Qt::QueuedConnection);
    }).detach();
}

}  // namespace quarnel
