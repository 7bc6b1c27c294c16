#include "ui/gadget_helpers.h"

namespace quarnel {

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

}  // namespace quarnel
