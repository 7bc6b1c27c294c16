#include "platform/exchange_stop.h"

#include <atomic>

#include "platform/wait.h"

namespace quarnel {
namespace {

std::atomic<bool> stopped{false};

// Made on first use and kept until the process ends, so a descriptor handed out stays valid.
const WaitHandle& StopEvent() {
    static const WaitHandle event = CreateManualEventHandle();
    return event;
}

}  // namespace

void StopNetworkExchanges() {
    stopped = true;
    (void)SetEventHandle(StopEvent());
}

void AllowNetworkExchanges() {
    (void)ResetEventHandle(StopEvent());
    stopped = false;
}

bool NetworkExchangesStopped() {
    return stopped.load(std::memory_order_relaxed);
}

NativeHandle NetworkStopHandle() {
    const WaitHandle& event = StopEvent();
    return event ? event->Handle() : kNoNativeHandle;
}

}  // namespace quarnel
