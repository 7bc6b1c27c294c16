#pragma once

// The service's worker thread: one update cycle per release of the wake semaphore, then a
// change watcher armed with the time-out the cycle chose.

#include <chrono>
#include <functional>

#include "platform/wait.h"
#include "service/change_watcher.h"
#include "service/update_cycle.h"

namespace quarnel {

struct ServiceWorker {
    // The service's state as the service library reports it.
    std::function<bool()> isActive;
    std::function<bool()> isPaused;
    std::function<bool()> isRunning;
    UpdateCycleEnvironment cycle;
    ChangeSources sources;
    // Set when the service stops: ends the watcher. The stopping side also releases the wake
    // semaphore so that this thread leaves its wait.
    const WaitHandle* stop = nullptr;
    // Changes that follow a cycle sooner than this are held back until this long after the
    // cycle started.
    std::chrono::milliseconds changeSpacing{2000};
};

// Runs until the service is no longer active; joins its watcher before it returns. Returns 0.
int ThreadServiceMain(const ServiceWorker& worker);

}  // namespace quarnel
