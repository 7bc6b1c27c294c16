#include <winsock2.h>
// In this order: the IP helper's headers need Winsock's and windows.h.
#include <iphlpapi.h>
#include <windows.h>

#include <cstdint>
#include <memory>
#include <utility>

#include "platform/clock.h"
#include "platform/handle_win.h"
#include "platform/network_change.h"
#include "platform/tcpip_interfaces_win.h"
#include "platform/wide_text_win.h"

// Address and route changes come from the IP helper (NotifyAddrChange, NotifyRouteChange), each
// request signalling its event once and asked for again after every change that counts; the
// configuration change is a watch on the adapters' TCP/IP keys. Ending a handle cancels its
// request (CancelIPChangeNotify).

namespace quarnel {
namespace {

// How long past its time-out a change still counts.
constexpr std::int64_t kGraceMs = 1000;

class NetworkChangeEvent final : public WaitEvent {
  public:
    NetworkChangeEvent(UniqueHandle event, NetworkChangeKind kind, std::int64_t deadline)
        : WaitEvent(std::move(event)), kind_(kind), deadline_(deadline) {
        overlapped_.hEvent = AsWindowsHandle(Handle());
    }
    ~NetworkChangeEvent() override {
        if (requested_) {
            ::CancelIPChangeNotify(&overlapped_);
        }
        if (key_ != nullptr) {
            ::RegCloseKey(key_);
        }
    }

    bool Request() {
        if (kind_ == NetworkChangeKind::Configuration) {
            return ::RegNotifyChangeKeyValue(key_, TRUE,
                                             REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET,
                                             overlapped_.hEvent, TRUE) == ERROR_SUCCESS;
        }
        HANDLE unused = nullptr;
        // The IP helper's change requests see IPv4 only; the IPv4AndIPv6 kinds watch as much.
        const bool address = kind_ == NetworkChangeKind::IPv4Address ||
                             kind_ == NetworkChangeKind::IPv4AndIPv6Address;
        const DWORD result = address ? ::NotifyAddrChange(&unused, &overlapped_)
                                     : ::NotifyRouteChange(&unused, &overlapped_);
        requested_ = result == ERROR_IO_PENDING;
        return requested_;
    }

    bool OpenConfigurationKey() {
        return ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, Widen(kTcpipInterfacesKey).c_str(), 0,
                               KEY_NOTIFY, &key_) == ERROR_SUCCESS;
    }

    bool TakeSignal() override {
        requested_ = false;
        if (deadline_ >= 0 && MonotonicMilliseconds() > deadline_) {
            return false;  // past its time: never fires again and asks for nothing more
        }
        (void)Request();
        return true;
    }

  private:
    NetworkChangeKind kind_;
    std::int64_t deadline_;
    OVERLAPPED overlapped_{};
    bool requested_ = false;
    HKEY key_ = nullptr;
};

class OneShotTimer final : public WaitEvent {
  public:
    using WaitEvent::WaitEvent;
};

}  // namespace

WaitHandle CreateNetworkChangeHandle(NetworkChangeKind kind, std::int64_t timeoutMs) {
    const std::int64_t deadline =
        timeoutMs < 0 ? -1 : MonotonicMilliseconds() + timeoutMs + kGraceMs;
    UniqueHandle event = OwnWindowsHandle(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!event) {
        return nullptr;
    }
    auto handle = std::make_unique<NetworkChangeEvent>(std::move(event), kind, deadline);
    if (kind == NetworkChangeKind::Configuration && !handle->OpenConfigurationKey()) {
        return nullptr;
    }
    if (!handle->Request()) {
        return nullptr;
    }
    return handle;
}

WaitHandle CreateOneShotTimerHandle(std::int64_t milliseconds) {
    // A synchronisation timer: the wait that sees it fire takes it, so it fires once.
    UniqueHandle timer = OwnWindowsHandle(::CreateWaitableTimerW(nullptr, FALSE, nullptr));
    if (!timer) {
        return nullptr;
    }
    // Relative, in 100-nanosecond units; a relative due time counts suspended time too.
    LARGE_INTEGER due{};
    due.QuadPart = -(milliseconds <= 0 ? 1 : milliseconds * 10000);
    if (!::SetWaitableTimer(AsWindowsHandle(timer.Get()), &due, 0, nullptr, nullptr, FALSE)) {
        return nullptr;
    }
    return std::make_unique<OneShotTimer>(std::move(timer));
}

bool IsNetworkConfigurationAvailable() {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, Widen(kTcpipInterfacesKey).c_str(), 0, KEY_READ,
                        &key) != ERROR_SUCCESS) {
        return false;
    }
    ::RegCloseKey(key);
    return true;
}

}  // namespace quarnel
