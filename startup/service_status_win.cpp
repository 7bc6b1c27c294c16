// The service's state as the service control manager reports it, which any user may ask.

#include <windows.h>

#include <string>

#include "libraries/src/service/service_library.h"
#include "platform/process.h"
#include "platform/wide_text_win.h"
#include "startup/service_status.h"

namespace quarnel {

ServiceState QueryServiceState(const std::string& name) {
    const SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager == nullptr) {
        return {ServiceRunState::Unknown,
                "cannot tell (" + SystemErrorText(::GetLastError()) + ")"};
    }
    ServiceState state;
    const SC_HANDLE service = ::OpenServiceW(manager, Widen(name).c_str(), SERVICE_QUERY_STATUS);
    if (service == nullptr) {
        const DWORD error = ::GetLastError();
        state = error == ERROR_SERVICE_DOES_NOT_EXIST
                    ? ServiceState{ServiceRunState::Stopped, "not running"}
                    : ServiceState{ServiceRunState::Unknown,
                                   "cannot tell (" + SystemErrorText(error) + ")"};
    } else {
        SERVICE_STATUS status{};
        if (!::QueryServiceStatus(service, &status)) {
            state = {ServiceRunState::Unknown,
                     "cannot tell (" + SystemErrorText(::GetLastError()) + ")"};
        } else if (status.dwCurrentState == SERVICE_STOPPED) {
            state = {ServiceRunState::Stopped, "not running"};
        } else {
            // The manager's states are the service library's.
            state = ServiceStateOf(status.dwCurrentState);
        }
        ::CloseServiceHandle(service);
    }
    ::CloseServiceHandle(manager);
    return state;
}

}  // namespace quarnel
