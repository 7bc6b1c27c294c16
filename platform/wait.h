#pragma once

// Waitable notifications. Every change source of the program (a registry key, a timer, an
// address or route change, a semaphore) is a system object that a wait can watch (on Linux a
// descriptor that poll() reports readable, on Windows a HANDLE that the wait functions take),
// wrapped with the rule that decides whether what arrived counts as the notification having
// fired. One WaitForHandles call covers any mix of them; destroying a handle closes its object,
// which cancels its notification.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>

#include "platform/native_handle.h"

namespace quarnel {

class WaitEvent {
  public:
    explicit WaitEvent(UniqueHandle handle) : handle_(std::move(handle)) {}
    virtual ~WaitEvent() = default;
    WaitEvent(const WaitEvent&) = delete;
    WaitEvent& operator=(const WaitEvent&) = delete;

    NativeHandle Handle() const { return handle_.Get(); }

    // Called when the object is signalled (the descriptor polls readable). Consumes what is
    // pending without blocking and returns true when the notification fired (the wait is then
    // satisfied, like an auto-reset event). The default takes everything pending (on Linux it
    // reads and discards it) and fires when anything was there.
    virtual bool TakeSignal();

  private:
    UniqueHandle handle_;
};

using WaitHandle = std::unique_ptr<WaitEvent>;

inline constexpr std::uint32_t kWaitObject0 = 0;
inline constexpr std::uint32_t kWaitAbandoned0 = 0x80;
inline constexpr std::uint32_t kWaitTimeout = 0x102;
inline constexpr std::uint32_t kWaitFailed = 0xFFFFFFFF;
inline constexpr std::int64_t kWaitInfinite = -1;
// The most handles one wait accepts.
inline constexpr std::size_t kMaximumWaitHandles = 64;

// Waits until one handle fires (waitAll false: returns its index) or every handle has fired
// (waitAll true: returns 0), or until timeoutMs passes (kWaitTimeout; a negative time-out waits
// without limit). An empty slot, a bad handle or a failed wait gives kWaitFailed at once.
std::uint32_t WaitForHandles(const WaitHandle* handles, std::size_t count, std::int64_t timeoutMs,
                             bool waitAll);

// The same over borrowed events (null entries fail like empty slots).
std::uint32_t WaitForEvents(WaitEvent* const* events, std::size_t count, std::int64_t timeoutMs,
                            bool waitAll);

// Closes the handle when it holds one; returns the close result (0 on success), or 0.
int CloseWaitHandle(WaitHandle& handle);

// A counting semaphore (eventfd in semaphore mode, a Windows semaphore): each wait that it
// satisfies takes one count.
WaitHandle CreateSemaphoreHandle(std::uint32_t initialCount);
// Adds count; false when the handle is no semaphore or the count cannot be added.
bool ReleaseSemaphoreHandle(const WaitHandle& semaphore, std::uint32_t count = 1);
// Takes one count without waiting; false when the count was 0.
bool TryTakeSemaphoreHandle(const WaitHandle& semaphore);
// A second handle to the same semaphore: a release through either satisfies a wait on the other.
// Null when the handle is no semaphore or cannot be duplicated.
WaitHandle ShareSemaphoreHandle(const WaitHandle& semaphore);

// A manual-reset event: once set it satisfies every wait until it is reset. Used to tell every
// worker of a process at once that it is stopping.
WaitHandle CreateManualEventHandle();
bool SetEventHandle(const WaitHandle& event);
bool ResetEventHandle(const WaitHandle& event);
// Whether the event is set, without waiting.
bool IsEventHandleSet(const WaitHandle& event);

}  // namespace quarnel
