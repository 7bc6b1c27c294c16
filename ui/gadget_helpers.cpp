#include "ui/gadget_helpers.h"

#include <QTimer>
#include <memory>
#include <string>

#include "diagnostics/log.h"

namespace quarnel {
namespace {

// How long a balloon waits for its icon's place, and how often it looks.
constexpr int kPlacementWaitMs = 5000;
constexpr int kPlacementPollMs = 50;

void ShowBalloonNow(QSystemTrayIcon& icon, const QString& title, const QString& message,
                    QSystemTrayIcon::MessageIcon kind, int timeoutMs) {
    const QRect place = icon.geometry();
    QLOG(kLogDebug, "ShowTrayBalloon",
         "Balloon shown at the icon at " + std::to_string(place.x()) + "," +
             std::to_string(place.y()) + " (" + std::to_string(place.width()) + "x" +
             std::to_string(place.height()) + ")");
    icon.showMessage(title, message, kind, timeoutMs);
}

}  // namespace

QAction* FindMenuEntry(const QMenu& menu, int id) {
    for (QAction* action : menu.actions()) {
        if (!action->isSeparator() && action->data().toInt() == id) {
            return action;
        }
    }
    return nullptr;
}

bool SetMenuItemState(QMenu& menu, int id, int state) {
    QAction* entry = FindMenuEntry(menu, id);
    if (entry == nullptr) {
        return false;
    }
    if ((state & kMenuStateDefault) != 0) {
        menu.setDefaultAction(entry);
    } else if (menu.defaultAction() == entry) {
        menu.setDefaultAction(nullptr);
    }
    entry->setEnabled((state & kMenuStateDisabled) == 0);
    return true;
}

void SetGadgetFontStyle(QWidget& gadget, int sizeInPoints, bool bold) {
    QFont font = gadget.font();
    font.setPointSize(sizeInPoints);
    font.setBold(bold);
    gadget.setFont(font);
}

QLabel* PlainTextLabel(QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    return label;
}

void BringToFront(QWidget& window) {
    window.setWindowState((window.windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    window.show();
    window.raise();
    window.activateWindow();
}

void FixWindowFrame(QWidget& window) {
    // A widget without a parent becomes a window when it is shown; its hints need the type now.
    const Qt::WindowType type =
        window.windowType() == Qt::Widget ? Qt::Window : window.windowType();
    window.setWindowFlags(type | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    window.setFixedSize(window.size());
}

bool TrayIconPlaced(const QSystemTrayIcon& icon) {
    const QRect place = icon.geometry();
    return icon.isVisible() && !place.isEmpty() && place.topLeft() != QPoint(0, 0);
}

void ShowBalloonAtIcon(QSystemTrayIcon& icon, const QString& title, const QString& message,
                       QSystemTrayIcon::MessageIcon kind, int timeoutMs) {
    // An icon without any place is one whose balloons the desktop shows as notifications of its
    // own (StatusNotifierItem), where nothing is to be waited for; an XEmbed icon has the place
    // of its own window at the screen's origin until the notification area has taken it (an
    // icon that really sits at the origin shows its balloons after the wait).
    if (TrayIconPlaced(icon) || icon.geometry().isEmpty() ||
        !QSystemTrayIcon::isSystemTrayAvailable()) {
        ShowBalloonNow(icon, title, message, kind, timeoutMs);
        return;
    }
    // The timer belongs to the icon, so it goes with it.
    auto* poll = new QTimer(&icon);
    auto waited = std::make_shared<int>(0);
    QObject::connect(poll, &QTimer::timeout, &icon,
                     [&icon, poll, waited, title, message, kind, timeoutMs] {
                         *waited += kPlacementPollMs;
                         if (!TrayIconPlaced(icon) && *waited < kPlacementWaitMs) {
                             return;
                         }
                         poll->stop();
                         poll->deleteLater();
                         ShowBalloonNow(icon, title, message, kind, timeoutMs);
                     });
    poll->start(kPlacementPollMs);
}

void HideTrayIconLater(QSystemTrayIcon& icon) {
    QTimer::singleShot(0, &icon, [&icon] { icon.hide(); });
}

}  // namespace quarnel
