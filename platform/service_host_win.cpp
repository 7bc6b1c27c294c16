#include <windows.h>

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/handle_win.h"
#include "platform/product.h"
#include "platform/service_host.h"
#include "platform/wide_text_win.h"

// The service host on Windows is the service control manager. The first Run of a service process
// connects to it (StartServiceCtrlDispatcherW): its service main registers the control handler
// and stays until the service has stopped, and the handler, called on this very thread, hands
// every control to the delivery. A process that the manager did not start (run from a console)
// gets its stop from Ctrl+C, Ctrl+Break and the console's closing instead.

namespace quarnel {
namespace {

constexpr std::uint32_t kControlStop = 1;
constexpr std::uint32_t kControlPowerEvent = 13;
constexpr std::uint32_t kPowerSuspend = 4;
constexpr std::uint32_t kPowerResumeAutomatic = 0x12;
constexpr std::uint32_t kStateStopped = 1;

struct Host {
    std::mutex lock;
    std::condition_variable changed;
    SERVICE_STATUS_HANDLE statusHandle = nullptr;
    bool pending = false;  // a status reported before the handler was registered
    SERVICE_STATUS status{};
    bool stopped = false;
    const ServiceControlDelivery* deliver = nullptr;
    bool dispatched = false;
};

Host& TheHost() {
    static Host host;
    return host;
}

SERVICE_STATUS ToSystemStatus(const ServiceStatus& status) {
    SERVICE_STATUS out{};
    out.dwServiceType = status.serviceType;
    out.dwCurrentState = status.currentState;
    out.dwControlsAccepted = status.controlsAccepted;
    out.dwWin32ExitCode = status.win32ExitCode;
    out.dwServiceSpecificExitCode = status.serviceSpecificExitCode;
    out.dwCheckPoint = status.checkPoint;
    out.dwWaitHint = status.waitHint;
    return out;
}

void FromSystemStatus(const SERVICE_STATUS& in, ServiceStatus& status) {
    status.serviceType = in.dwServiceType;
    status.currentState = in.dwCurrentState;
    status.controlsAccepted = in.dwControlsAccepted;
    status.win32ExitCode = in.dwWin32ExitCode;
    status.serviceSpecificExitCode = in.dwServiceSpecificExitCode;
    status.checkPoint = in.dwCheckPoint;
    status.waitHint = in.dwWaitHint;
}

bool Deliver(std::uint32_t control, std::uint32_t eventType) {
    Host& host = TheHost();
    const ServiceControlDelivery* deliver = nullptr;
    {
        const std::lock_guard guard(host.lock);
        deliver = host.deliver;
    }
    if (deliver == nullptr) {
        return false;
    }
    ServiceHostControl request;
    request.control = control;
    request.eventType = eventType;
    ServiceStatus status;
    return (*deliver)(request, status);
}

DWORD WINAPI ControlHandler(DWORD control, DWORD eventType, void* /*data*/, void* /*context*/) {
    if (control == SERVICE_CONTROL_INTERROGATE) {
        return NO_ERROR;
    }
    return Deliver(control, eventType) ? NO_ERROR : ERROR_CALL_NOT_IMPLEMENTED;
}

void WINAPI ServiceMain(DWORD /*count*/, wchar_t** /*arguments*/) {
    Host& host = TheHost();
    const SERVICE_STATUS_HANDLE handle =
        ::RegisterServiceCtrlHandlerExW(Widen(ServiceName).c_str(), ControlHandler, nullptr);
    std::unique_lock guard(host.lock);
    host.statusHandle = handle;
    if (handle != nullptr && host.pending) {
        ::SetServiceStatus(handle, &host.status);
    }
    // The manager counts the service as running for as long as its main has not returned.
    host.changed.wait(guard, [&host] { return host.stopped || host.statusHandle == nullptr; });
}

BOOL WINAPI ConsoleControl(DWORD event) {
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT || event == CTRL_CLOSE_EVENT ||
        event == CTRL_SHUTDOWN_EVENT) {
        (void)Deliver(kControlStop, 0);
        return TRUE;
    }
    return FALSE;
}

}  // namespace

ServiceHostControl SleepSignalControl(bool sleepStarts) {
    ServiceHostControl control;
    control.control = kControlPowerEvent;
    control.eventType = sleepStarts ? kPowerSuspend : kPowerResumeAutomatic;
    return control;
}

bool ReportStatusToServiceManager(const ServiceStatus& status, std::string_view /*stateName*/) {
    Host& host = TheHost();
    const std::lock_guard guard(host.lock);
    host.status = ToSystemStatus(status);
    host.stopped = status.currentState == kStateStopped;
    bool reported = true;
    if (host.statusHandle != nullptr) {
        reported = ::SetServiceStatus(host.statusHandle, &host.status);
    } else {
        host.pending = true;
    }
    host.changed.notify_all();
    return reported;
}

// Controls arrive through the manager's handler, never as signals.
void BlockServiceHostSignals() {}

std::string ServiceControlSocketPath() {
    return "the service control manager";
}

struct ServiceHostControls::State {};

ServiceHostControls::ServiceHostControls() : state_(std::make_unique<State>()) {}
ServiceHostControls::~ServiceHostControls() {
    Host& host = TheHost();
    const std::lock_guard guard(host.lock);
    host.deliver = nullptr;
}

bool ServiceHostControls::ControlSocketOpen() const {
    return true;
}

bool ServiceHostControls::SleepSignalSubscribed() const {
    return true;
}

bool ServiceHostControls::Run(const WaitHandle& finished, const ServiceControlDelivery& deliver) {
    Host& host = TheHost();
    bool connect = false;
    {
        const std::lock_guard guard(host.lock);
        host.deliver = &deliver;
        connect = !host.dispatched;
        host.dispatched = true;
    }
    if (connect) {
        std::wstring name = Widen(ServiceName);
        SERVICE_TABLE_ENTRYW table[] = {{name.data(), ServiceMain}, {nullptr, nullptr}};
        if (!::StartServiceCtrlDispatcherW(table)) {
            // Not started by the manager: a console run.
            ::SetConsoleCtrlHandler(ConsoleControl, TRUE);
        }
    }
    const bool ended = WaitForHandles(&finished, 1, kWaitInfinite, false) == kWaitObject0;
    if (ended && connect) {
        ::SetConsoleCtrlHandler(ConsoleControl, FALSE);
    }
    return ended;
}

bool SendServiceHostControl(const ServiceHostControl& control, ServiceStatus& status) {
    const SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager == nullptr) {
        return false;
    }
    const std::wstring name =
        Widen(control.serviceName.empty() ? ServiceName : control.serviceName);
    DWORD access = SERVICE_QUERY_STATUS | SERVICE_INTERROGATE | SERVICE_USER_DEFINED_CONTROL;
    if (control.control == SERVICE_CONTROL_STOP) {
        access |= SERVICE_STOP;
    } else if (control.control == SERVICE_CONTROL_PAUSE ||
               control.control == SERVICE_CONTROL_CONTINUE) {
        access |= SERVICE_PAUSE_CONTINUE;
    }
    const SC_HANDLE service = ::OpenServiceW(manager, name.c_str(), access);
    bool delivered = false;
    if (service != nullptr) {
        SERVICE_STATUS answer{};
        delivered = ::ControlService(service, control.control, &answer);
        if (delivered || ::QueryServiceStatus(service, &answer)) {
            FromSystemStatus(answer, status);
        }
        ::CloseServiceHandle(service);
    }
    ::CloseServiceHandle(manager);
    return delivered;
}

}  // namespace quarnel
