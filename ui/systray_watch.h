#pragma once

// ThreadSystrayMain: the tray's watch on the service's state key. Qt-free; the caller decides
// how a result reaches the windows.

#include <functional>

#include "platform/wait.h"
#include "ui/result_notice.h"

namespace quarnel {

// Waits for changes of SOFTWARE\Quarnel Updater\Service and, 100 ms after each (so that the
// service has written all its values), reads the result and hands it to deliver, on this
// thread. Returns when stop fires, when the key cannot be watched or is removed, and at once
// when the key does not exist (the service has never run).
void ThreadSystrayMain(WaitEvent& stop, const std::function<void(const ServiceResult&)>& deliver);

}  // namespace quarnel
