#pragma once

// Small helpers on menus and controls, by command id and by control.

#include <QMenu>
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

}  // namespace quarnel
