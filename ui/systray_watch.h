#pragma once

// ThreadSystrayMain: the tray's watch on the service's state key. Qt-free; the caller decides
// how a result reaches the windows.

#include <functional>

#include "platform/wait.h"
#include "ui/result_notice.h"

namespace quarnel {

// Waits for changes of SOFTWARE\Quarnel Updater\Service and, 100 ms after each (so that the
// service has written all its values), reads the result and hands it to deliver, on this
// thread, once per attempt (AttemptIdentity): the attempt on record at the start and repeated
// reads of one attempt are not delivered. A key that does not exist yet (the service has never
// run) or has been removed is waited for. Returns when stop fires or the wait fails.
void ThreadSystrayMain(WaitEvent& stop, const std::function<void(const ServiceResult&)>& deliver);

}  // namespace quarnel
