#include <windows.h>

#include <climits>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>

#include "platform/clock.h"
#include "platform/handle_win.h"
#include "platform/wait.h"

namespace quarnel {
namespace {

// The wait that reports a semaphore or an auto-reset event signalled has already taken it.
class SemaphoreEvent final : public WaitEvent {
  public:
    using WaitEvent::WaitEvent;
};

class ManualEvent final : public WaitEvent {
  public:
    using WaitEvent::WaitEvent;
};

bool IsSemaphore(const WaitHandle& handle) {
    return handle && dynamic_cast<const SemaphoreEvent*>(handle.get()) != nullptr;
}

bool IsManualEvent(const WaitHandle& handle) {
    return handle && dynamic_cast<const ManualEvent*>(handle.get()) != nullptr;
}

}  // namespace

bool WaitEvent::TakeSignal() {
    return true;
}

std::uint32_t WaitForHandles(const WaitHandle* handles, std::size_t count, std::int64_t timeoutMs,
                             bool waitAll) {
    if (count > kMaximumWaitHandles || count == 0 || handles == nullptr) {
        return kWaitFailed;
    }
    WaitEvent* events[kMaximumWaitHandles];
    for (std::size_t i = 0; i < count; ++i) {
        events[i] = handles[i].get();
    }
    return WaitForEvents(events, count, timeoutMs, waitAll);
}

std::uint32_t WaitForEvents(WaitEvent* const* events, std::size_t count, std::int64_t timeoutMs,
                            bool waitAll) {
    if (count > kMaximumWaitHandles || count == 0 || events == nullptr) {
        return kWaitFailed;
    }
    for (std::size_t i = 0; i < count; ++i) {
        if (events[i] == nullptr || events[i]->Handle() == kNoNativeHandle) {
            return kWaitFailed;
        }
    }
    // Every object is waited for one at a time, never all at once, so that each one's rule
    // (TakeSignal) decides whether it fired, as on Linux; with waitAll the fired ones drop out.
    bool fired[kMaximumWaitHandles] = {};
    const std::int64_t deadline = timeoutMs < 0 ? -1 : MonotonicMilliseconds() + timeoutMs;
    while (true) {
        HANDLE waiting[kMaximumWaitHandles];
        std::size_t index[kMaximumWaitHandles];
        DWORD pending = 0;
        for (std::size_t i = 0; i < count; ++i) {
            if (!fired[i]) {
                waiting[pending] = AsWindowsHandle(events[i]->Handle());
                index[pending++] = i;
            }
        }
        DWORD wait = INFINITE;
        if (deadline >= 0) {
            const std::int64_t left = deadline - MonotonicMilliseconds();
            wait = left <= 0 ? 0 : static_cast<DWORD>(left > INT_MAX ? INT_MAX : left);
        }
        const DWORD result = ::WaitForMultipleObjects(pending, waiting, FALSE, wait);
        if (result == WAIT_TIMEOUT) {
            return kWaitTimeout;
        }
        std::size_t which = 0;
        if (result < WAIT_OBJECT_0 + pending) {
            which = index[result - WAIT_OBJECT_0];
        } else if (result >= WAIT_ABANDONED_0 && result < WAIT_ABANDONED_0 + pending) {
            return kWaitAbandoned0 + static_cast<std::uint32_t>(index[result - WAIT_ABANDONED_0]);
        } else {
            return kWaitFailed;
        }
        if (events[which]->TakeSignal()) {
            if (!waitAll) {
                return kWaitObject0 + static_cast<std::uint32_t>(which);
            }
            fired[which] = true;
            bool all = true;
            for (std::size_t i = 0; i < count; ++i) {
                all = all && fired[i];
            }
            if (all) {
                return kWaitObject0;
            }
        }
        if (deadline >= 0 && MonotonicMilliseconds() >= deadline) {
            return kWaitTimeout;
        }
    }
}

int CloseWaitHandle(WaitHandle& handle) {
    handle.reset();
    return 0;
}

WaitHandle CreateSemaphoreHandle(std::uint32_t initialCount) {
    UniqueHandle semaphore = OwnWindowsHandle(
        ::CreateSemaphoreW(nullptr, static_cast<LONG>(initialCount), LONG_MAX, nullptr));
    if (!semaphore) {
        return nullptr;
    }
    return std::make_unique<SemaphoreEvent>(std::move(semaphore));
}

bool ReleaseSemaphoreHandle(const WaitHandle& semaphore, std::uint32_t count) {
    return IsSemaphore(semaphore) && ::ReleaseSemaphore(AsWindowsHandle(semaphore->Handle()),
                                                        static_cast<LONG>(count), nullptr);
}

bool TryTakeSemaphoreHandle(const WaitHandle& semaphore) {
    return IsSemaphore(semaphore) &&
           ::WaitForSingleObject(AsWindowsHandle(semaphore->Handle()), 0) == WAIT_OBJECT_0;
}

WaitHandle ShareSemaphoreHandle(const WaitHandle& semaphore) {
    HANDLE copy = nullptr;
    if (!IsSemaphore(semaphore) ||
        !::DuplicateHandle(::GetCurrentProcess(), AsWindowsHandle(semaphore->Handle()),
                           ::GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
        return nullptr;
    }
    return std::make_unique<SemaphoreEvent>(OwnWindowsHandle(copy));
}

WaitHandle CreateManualEventHandle() {
    UniqueHandle event = OwnWindowsHandle(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!event) {
        return nullptr;
    }
    return std::make_unique<ManualEvent>(std::move(event));
}

bool SetEventHandle(const WaitHandle& event) {
    return IsManualEvent(event) && ::SetEvent(AsWindowsHandle(event->Handle()));
}

bool ResetEventHandle(const WaitHandle& event) {
    return IsManualEvent(event) && ::ResetEvent(AsWindowsHandle(event->Handle()));
}

bool IsEventHandleSet(const WaitHandle& event) {
    return event && ::WaitForSingleObject(AsWindowsHandle(event->Handle()), 0) == WAIT_OBJECT_0;
}

}  // namespace quarnel
