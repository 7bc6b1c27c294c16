#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/global_handles.h"
#include "platform/handle_win.h"
#include "platform/instance.h"
#include "platform/wide_text_win.h"

// Instance markers are named semaphores that the process holds open for its life: the name is
// the mode's GUID text, in the session's namespace for a user's modes and in the global one for
// the machine-wide service (creating a global object takes a privilege that plain users do not
// have, so none of them can occupy the service's marker). The instance message is the window
// message registered under the channel's name, broadcast to every top-level window of the
// session; the windows that receive it belong to the desktop module.

namespace quarnel {
namespace {

std::wstring MarkerName(std::string_view guidText, std::optional<std::uint32_t> userId) {
    return (userId ? L"" : L"Global\\") + Widen(guidText);
}

}  // namespace

std::string InstanceFolder(std::optional<std::uint32_t> userId) {
    return userId ? "Local" : "Global";
}

std::string InstanceSocketPath(std::string_view guidText, std::optional<std::uint32_t> userId) {
    return InstanceFolder(userId) + "\\" + std::string(guidText);
}

InstanceClaim ClaimInstanceMarker(std::string_view guidText, std::optional<std::uint32_t> userId,
                                  InstanceMarker& marker) {
    const std::wstring name = MarkerName(guidText, userId);
    const HANDLE semaphore = ::CreateSemaphoreW(nullptr, 0, 1, name.c_str());
    const DWORD error = ::GetLastError();
    if (semaphore == nullptr) {
        // A marker made by another account may not be opened, but it is there.
        return error == ERROR_ACCESS_DENIED ? InstanceClaim::HeldElsewhere : InstanceClaim::Failed;
    }
    if (error == ERROR_ALREADY_EXISTS) {
        ::CloseHandle(semaphore);
        return InstanceClaim::HeldElsewhere;
    }
    marker.lock = OwnWindowsHandle(semaphore);
    marker.endpoint.Reset();
    return InstanceClaim::Held;
}

// Codes arrive as window messages, which only a window receives.
InstanceReceive ReceiveInstanceCode(NativeHandle /*endpoint*/, std::uint32_t /*listeningUser*/,
                                    std::int32_t& /*code*/) {
    return InstanceReceive::Nothing;
}

// A sender broadcasts once, however many receivers the caller names: the broadcast reaches all
// of them. The sender is an event that remembers that it has.
UniqueHandle CreateInstanceSender() {
    return OwnWindowsHandle(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
}

bool SendInstanceCode(NativeHandle sender, const std::string& /*socketPath*/, std::int32_t code) {
    const HANDLE sent = AsWindowsHandle(sender);
    if (sent == nullptr || ::WaitForSingleObject(sent, 0) == WAIT_OBJECT_0) {
        return false;
    }
    const UINT message = ::RegisterWindowMessageW(Widen(globalHandles.instanceMessageName).c_str());
    if (message == 0 || !::SendNotifyMessageW(HWND_BROADCAST, message, 0, code)) {
        return false;
    }
    ::SetEvent(sent);
    return true;
}

}  // namespace quarnel
