// The service's state as the service control manager reports it, which any user may ask.

#include <windows.h>

#include <string>

#include "libraries/src/service/service_library.h"
#include "platform/process.h"
#include "platform/wide_text_win.h"
#include "startup/service_status.h"

namespace quarnel {
namespace {

std::string StateText(DWORD state) {
    switch (state) {
        case SERVICE_STOPPED:
            return "stopped";
        case SERVICE_START_PENDING:
            return "starting";
        case SERVICE_STOP_PENDING:
            return "stopping";
        case SERVICE_RUNNING:
            return "running";
        case SERVICE_CONTINUE_PENDING:
            return "continuing";
        case SERVICE_PAUSE_PENDING:
            return "pausing";
        case SERVICE_PAUSED:
            return "paused";
        default:
            return "in state " + std::to_string(state);
    }
}

}  // namespace

std::string QueryServiceState(const std::string& name) {
    const SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager == nullptr) {
        return "cannot tell (" + SystemErrorText(::GetLastError()) + ")";
    }
    std::string state;
    const SC_HANDLE service = ::OpenServiceW(manager, Widen(name).c_str(), SERVICE_QUERY_STATUS);
    if (service == nullptr) {
        const DWORD error = ::GetLastError();
        state = error == ERROR_SERVICE_DOES_NOT_EXIST
                    ? "not running"
                    : "cannot tell (" + SystemErrorText(error) + ")";
    } else {
        SERVICE_STATUS status{};
        state = ::QueryServiceStatus(service, &status)
                    ? (status.dwCurrentState == SERVICE_STOPPED ? "not running"
                                                                : StateText(status.dwCurrentState))
                    : "cannot tell (" + SystemErrorText(::GetLastError()) + ")";
        ::CloseServiceHandle(service);
    }
    ::CloseServiceHandle(manager);
    return state;
}

}  // namespace quarnel
