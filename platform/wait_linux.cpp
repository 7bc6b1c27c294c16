#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "platform/clock.h"
#include "platform/unique_fd.h"
#include "platform/wait.h"

namespace quarnel {
namespace {

class SemaphoreEvent final : public WaitEvent {
  public:
    using WaitEvent::WaitEvent;
    bool TakeSignal() override {
        std::uint64_t value = 0;
        return ::read(DescriptorOf(Handle()), &value, sizeof value) == sizeof value;
    }
};

// An eventfd whose counter is only read by Reset: polling stays readable while it is set.
class ManualEvent final : public WaitEvent {
  public:
    using WaitEvent::WaitEvent;
    bool TakeSignal() override { return true; }
};

}  // namespace

bool WaitEvent::TakeSignal() {
    bool any = false;
    char buffer[4096];
    // Bounded: a source that never stops producing still returns control.
    for (int i = 0; i < 64; ++i) {
        const ssize_t got = ::read(DescriptorOf(Handle()), buffer, sizeof buffer);
        if (got <= 0) {
            break;
        }
        any = true;
    }
    return any;
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

std::uint32_t WaitForEvents(WaitEvent* const* handles, std::size_t count, std::int64_t timeoutMs,
                            bool waitAll) {
    if (count > kMaximumWaitHandles || count == 0 || handles == nullptr) {
        return kWaitFailed;
    }
    std::vector<pollfd> polls(count);
    std::vector<bool> fired(count, false);
    for (std::size_t i = 0; i < count; ++i) {
        if (!handles[i] || DescriptorOf(handles[i]->Handle()) < 0) {
            return kWaitFailed;
        }
        polls[i] = {DescriptorOf(handles[i]->Handle()), POLLIN, 0};
    }
    const std::int64_t deadline = timeoutMs < 0 ? -1 : MonotonicMilliseconds() + timeoutMs;
    while (true) {
        int pollTimeout = -1;
        if (deadline >= 0) {
            const std::int64_t left = deadline - MonotonicMilliseconds();
            pollTimeout = left <= 0 ? 0 : static_cast<int>(left > 0x7FFFFFFF ? 0x7FFFFFFF : left);
        }
        for (std::size_t i = 0; i < count; ++i) {
            polls[i].events = fired[i] ? 0 : POLLIN;
            polls[i].revents = 0;
        }
        const int ready = ::poll(polls.data(), polls.size(), pollTimeout);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            return kWaitFailed;
        }
        for (std::size_t i = 0; i < count; ++i) {
            if (polls[i].revents & POLLNVAL) {
                return kWaitFailed;
            }
            if (!fired[i] && (polls[i].revents & (POLLIN | POLLERR | POLLHUP))) {
                if (handles[i]->TakeSignal()) {
                    if (!waitAll) {
                        return kWaitObject0 + static_cast<std::uint32_t>(i);
                    }
                    fired[i] = true;
                }
            }
        }
        if (waitAll) {
            bool all = true;
            for (std::size_t i = 0; i < count; ++i) {
                all = all && fired[i];
            }
            if (all) {
                return kWaitObject0;
            }
        }
        // Checked whatever poll reported: a source that keeps polling readable without firing
        // (a stream of changes that do not count, a hung-up descriptor) must not hold the wait
        // past its time-out.
        if (deadline >= 0 && MonotonicMilliseconds() >= deadline) {
            return kWaitTimeout;
        }
    }
}

int CloseWaitHandle(WaitHandle& handle) {
    if (!handle) {
        return 0;
    }
    handle.reset();
    return 0;
}

WaitHandle CreateSemaphoreHandle(std::uint32_t initialCount) {
    UniqueFd fd(::eventfd(initialCount, EFD_SEMAPHORE | EFD_NONBLOCK | EFD_CLOEXEC));
    if (!fd) {
        return nullptr;
    }
    return std::make_unique<SemaphoreEvent>(IntoHandle(std::move(fd)));
}

bool ReleaseSemaphoreHandle(const WaitHandle& semaphore, std::uint32_t count) {
    if (!semaphore || dynamic_cast<const SemaphoreEvent*>(semaphore.get()) == nullptr) {
        return false;
    }
    const std::uint64_t value = count;
    return ::write(DescriptorOf(semaphore->Handle()), &value, sizeof value) == sizeof value;
}

WaitHandle CreateManualEventHandle() {
    UniqueFd fd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    if (!fd) {
        return nullptr;
    }
    return std::make_unique<ManualEvent>(IntoHandle(std::move(fd)));
}

bool SetEventHandle(const WaitHandle& event) {
    if (!event || dynamic_cast<const ManualEvent*>(event.get()) == nullptr) {
        return false;
    }
    const std::uint64_t one = 1;
    return ::write(DescriptorOf(event->Handle()), &one, sizeof one) == sizeof one;
}

bool ResetEventHandle(const WaitHandle& event) {
    if (!event || dynamic_cast<const ManualEvent*>(event.get()) == nullptr) {
        return false;
    }
    std::uint64_t value = 0;
    (void)::read(DescriptorOf(event->Handle()), &value, sizeof value);
    return true;
}

bool IsEventHandleSet(const WaitHandle& event) {
    if (!event) {
        return false;
    }
    pollfd poller{DescriptorOf(event->Handle()), POLLIN, 0};
    return ::poll(&poller, 1, 0) == 1 && (poller.revents & POLLIN);
}

WaitHandle ShareSemaphoreHandle(const WaitHandle& semaphore) {
    if (!semaphore || dynamic_cast<const SemaphoreEvent*>(semaphore.get()) == nullptr) {
        return nullptr;
    }
    UniqueFd fd(::fcntl(DescriptorOf(semaphore->Handle()), F_DUPFD_CLOEXEC, 0));
    if (!fd) {
        return nullptr;
    }
    return std::make_unique<SemaphoreEvent>(IntoHandle(std::move(fd)));
}

bool TryTakeSemaphoreHandle(const WaitHandle& semaphore) {
    if (!semaphore || dynamic_cast<const SemaphoreEvent*>(semaphore.get()) == nullptr) {
        return false;
    }
    return semaphore->TakeSignal();
}

}  // namespace quarnel
