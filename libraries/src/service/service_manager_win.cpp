// Service management through the service control manager: a shared-process service that starts
// automatically with the system and depends on the server and workstation services.

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "diagnostics/log.h"
#include "libraries/src/service/service_manager.h"
#include "platform/process.h"
#include "platform/registry_store.h"
#include "platform/service_host.h"
#include "platform/text.h"
#include "platform/wide_text_win.h"

namespace quarnel {
namespace {

// Seconds a start may take before it counts as failed.
constexpr int kStartWaitSeconds = 30;

void ReportFailure(const char* procedure, const std::string& message, DWORD error) {
    const std::string text =
        message + ": " + SystemErrorText(error) + " (" + std::to_string(error) + ")";
    QLOG(kLogError, procedure, text);
    std::fprintf(stderr, "quarnel-updater: %s\n", text.c_str());
}

class ServiceHandle {
  public:
    explicit ServiceHandle(SC_HANDLE handle) : handle_(handle) {}
    ~ServiceHandle() {
        if (handle_ != nullptr) {
            ::CloseServiceHandle(handle_);
        }
    }
    ServiceHandle(const ServiceHandle&) = delete;
    ServiceHandle& operator=(const ServiceHandle&) = delete;
    SC_HANDLE Get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

  private:
    SC_HANDLE handle_;
};

// The dependencies as CreateServiceW takes them: names separated by zero characters and ended
// by two. The text names them separated by line feeds or slashes.
std::wstring DependencyList(const std::string& dependencies) {
    std::wstring list;
    std::string name;
    for (const char c : dependencies + "\n") {
        if (c == '\n' || c == '/' || c == '\0') {
            if (!name.empty()) {
                list += Widen(name);
                list.push_back(L'\0');
            }
            name.clear();
        } else {
            name.push_back(c);
        }
    }
    list.push_back(L'\0');
    return list;
}

std::int64_t OpenAndDo(const char* procedure, const std::string& name, DWORD access,
                       bool (*operation)(SC_HANDLE, const char*, const std::string&)) {
    const ServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
        ReportFailure(procedure, "Unable to open the service control manager", ::GetLastError());
        return 0;
    }
    const ServiceHandle service(::OpenServiceW(manager.Get(), Widen(name).c_str(), access));
    if (!service) {
        ReportFailure(procedure, "Unable to open service " + name, ::GetLastError());
        return 0;
    }
    return operation(service.Get(), procedure, name) ? 1 : 0;
}

constexpr const char* kEventSourceKey =
    "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";

// The event source of the service's records, with the program as its message file, so that the
// event viewer shows each record's sentence.
bool RegisterEventSource(const std::string& name, const std::string& programPath) {
    const std::string key = kEventSourceKey + name;
    RegistryValue file;
    file.type = kRegExpandSz;
    file.data = Utf8ToUtf16LeBytes(programPath);
    file.data.insert(file.data.end(), {0, 0});
    const std::uint32_t types =
        EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
    RegistryValue supported;
    supported.type = kRegDword;
    for (int shift = 0; shift < 32; shift += 8) {
        supported.data.push_back(static_cast<std::uint8_t>(types >> shift));
    }
    return registry_store::CreateKey(RegistryHive::LocalMachine, key) &&
           registry_store::WriteValue(RegistryHive::LocalMachine, key, "EventMessageFile", file) &&
           registry_store::WriteValue(RegistryHive::LocalMachine, key, "TypesSupported", supported);
}

}  // namespace

const char* ServiceDependencies() {
    return "LanmanServer\nLanmanWorkstation\n";
}

std::int64_t InstallService(const std::string& name, const std::string& displayName,
                            const std::string& programPath, const std::string& arguments,
                            const std::string& description, const std::string& dependencies) {
    constexpr const char* kProcedure = "InstallService";
    if (description.empty()) {
        return 0;
    }
    const ServiceHandle manager(
        ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE));
    if (!manager) {
        ReportFailure(kProcedure, "Unable to open the service control manager", ::GetLastError());
        return 0;
    }
    const std::wstring command =
        L"\"" + Widen(programPath) + L"\"" + (arguments.empty() ? L"" : L" " + Widen(arguments));
    const std::wstring dependencyList = DependencyList(dependencies);
    const ServiceHandle service(::CreateServiceW(
        manager.Get(), Widen(name).c_str(), Widen(displayName).c_str(), SERVICE_ALL_ACCESS,
        SERVICE_WIN32_SHARE_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, command.c_str(),
        nullptr, nullptr, dependencyList.c_str(), nullptr, nullptr));
    if (!service) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_SERVICE_EXISTS) {
            QLOG(kLogInfo, kProcedure, "Service " + name + " is already installed");
        } else {
            ReportFailure(kProcedure, "Unable to create service " + name, error);
        }
        return 0;
    }
    std::wstring text = Widen(description);
    SERVICE_DESCRIPTIONW info{text.data()};
    (void)::ChangeServiceConfig2W(service.Get(), SERVICE_CONFIG_DESCRIPTION, &info);
    if (!RegisterEventSource(name, programPath)) {
        ReportFailure(kProcedure, "Unable to register the event source " + name, ::GetLastError());
        return 0;
    }
    QLOG(kLogInfo, kProcedure, "Service " + name + " installed");
    return 1;
}

std::int64_t StartServiceByName(const std::string& name) {
    return OpenAndDo("StartServiceByName", name, SERVICE_START | SERVICE_QUERY_STATUS,
                     [](SC_HANDLE service, const char* procedure, const std::string& which) {
                         if (!::StartServiceW(service, 0, nullptr) &&
                             ::GetLastError() != ERROR_SERVICE_ALREADY_RUNNING) {
                             ReportFailure(procedure, "Unable to start service " + which,
                                           ::GetLastError());
                             return false;
                         }
                         // Bounded: a service that never leaves its start is a failed start.
                         for (int i = 0; i < kStartWaitSeconds * 10; ++i) {
                             SERVICE_STATUS status{};
                             if (!::QueryServiceStatus(service, &status)) {
                                 return false;
                             }
                             if (status.dwCurrentState == SERVICE_RUNNING) {
                                 return true;
                             }
                             if (status.dwCurrentState == SERVICE_STOPPED) {
                                 ReportFailure(procedure, "Service " + which + " stopped at start",
                                               status.dwWin32ExitCode);
                                 return false;
                             }
                             ::Sleep(100);
                         }
                         return false;
                     });
}

std::int64_t StopServiceByName(const std::string& name) {
    return OpenAndDo("StopServiceByName", name, SERVICE_STOP,
                     [](SC_HANDLE service, const char* procedure, const std::string& which) {
                         SERVICE_STATUS status{};
                         if (!::ControlService(service, SERVICE_CONTROL_STOP, &status)) {
                             ReportFailure(procedure, "Unable to stop service " + which,
                                           ::GetLastError());
                             return false;
                         }
                         return true;
                     });
}

std::int64_t DeleteServiceByName(const std::string& name) {
    return OpenAndDo(
        "DeleteServiceByName", name, DELETE,
        [](SC_HANDLE service, const char* procedure, const std::string& which) {
            if (!::DeleteService(service)) {
                ReportFailure(procedure, "Unable to delete service " + which, ::GetLastError());
                return false;
            }
            (void)registry_store::DeleteKey(RegistryHive::LocalMachine, kEventSourceKey + which);
            return true;
        });
}

std::int64_t ServiceExists(const std::string& name) {
    const ServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
        return 0;
    }
    const ServiceHandle service(
        ::OpenServiceW(manager.Get(), Widen(name).c_str(), SERVICE_QUERY_STATUS));
    return service ? 1 : 0;
}

std::int64_t ControlServiceByName(const std::string& name, std::uint32_t controlCode) {
    ServiceHostControl control;
    control.serviceName = name;
    control.control = controlCode;
    ServiceStatus status;
    if (!SendServiceHostControl(control, status)) {
        ReportFailure("ControlServiceByName",
                      "Unable to send control " + std::to_string(controlCode) + " to " + name,
                      ::GetLastError());
        return 0;
    }
    return 1;
}

// There is no unit file on Windows: the service lives in the manager's database.
std::string ServiceUnitPath(const std::string& name) {
    return "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\" + name;
}

}  // namespace quarnel
