#pragma once

// A window's link, opened in the user's web browser (ui/link_opening.h); the user is told, with
// the address to copy, when no browser could be started or none may be (a window of root with
// no desktop user).

#include <QMessageBox>
#include <QWidget>
#include <string>

#include "ui/desktop_texts.h"

namespace quarnel {

// Opens url on a worker thread; the message box, if any, comes over parent while it lives.
// opener: the program that opens links (empty: xdg-open).
void OpenLinkFromWindow(QWidget* parent, const std::string& url, const std::string& opener = {});

// The message box: text and, below it, the address, selectable for copying. Not modal; it
// deletes itself when closed.
QMessageBox* ShowAddressBox(QWidget* parent, DesktopText text, const std::string& url);

// Tells the user something that went wrong, in a message box that does not block the window.
QMessageBox* ShowFailureBox(QWidget* parent, const std::string& text);

}  // namespace quarnel
