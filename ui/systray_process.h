#pragma once

#include <cstdint>

namespace quarnel {

// The systray mode inside the desktop module, once the program has made sure it is the only
// tray of this user: the tray window, menu, images and icon, the start-up check of the settings,
// the instance messages, ThreadSystrayMain, below-normal priority in background mode, and the
// event loop until the tray is closed. Needs a QApplication; returns 0.
std::int64_t RunSystrayWindows();

}  // namespace quarnel
