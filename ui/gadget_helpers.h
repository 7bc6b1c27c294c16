#pragma once

// Small helpers on menus, controls, windows and the tray icon, by command id and by control.

#include <QLabel>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QWidget>

namespace quarnel {

// Menu entry states.
inline constexpr int kMenuStateDefault = 0x1000;  // the default entry, drawn bold
inline constexpr int kMenuStateDisabled = 0x3;
inline constexpr int kMenuStateEnabled = 0x0;

// The entry whose command id (QAction data) is id, or null.
QAction* FindMenuEntry(const QMenu& menu, int id);
// Sets the state of the entry with that command id (not by position); false when there is none.
bool SetMenuItemState(QMenu& menu, int id, int state);

// Gives a control its current font face at sizeInPoints, bold when bold is set.
void SetGadgetFontStyle(QWidget& gadget, int sizeInPoints, bool bold);

// A label that shows text from outside the program (the store, a provider, an echo page, the
// maker's page): always as plain text, never as rich text.
QLabel* PlainTextLabel(QWidget* parent);

// Shows a window, brings it to the front and to the top, and out of the minimized state.
void BringToFront(QWidget& window);
// Gives a top-level window the frame of the program's windows: a caption with the system menu
// and a close box only, at its present size, which the user cannot change.
void FixWindowFrame(QWidget& window);

// Shows a balloon at a tray icon once the notification area has placed the icon (asked for
// before, the balloon shows in a corner of the screen, away from the icon): at once when it is
// placed, else as soon as it is, and after a few seconds without a place anyway.
void ShowBalloonAtIcon(QSystemTrayIcon& icon, const QString& title, const QString& message,
                       QSystemTrayIcon::MessageIcon kind, int timeoutMs);
// Whether the notification area has placed the icon: it has a place that is not the screen's
// origin, where an XEmbed icon's own window is until the notification area takes it.
bool TrayIconPlaced(const QSystemTrayIcon& icon);
// Hides a tray icon from the event loop: a handler of the icon's own signals must never hide
// (and so destroy) the widget that is emitting them.
void HideTrayIconLater(QSystemTrayIcon& icon);

}  // namespace quarnel
