#include "startup/service_status.h"

#include "diagnostics/event_log.h"
#include "libraries/src/service/service_control.h"
#include "libraries/src/service/service_library.h"

namespace quarnel {

std::string QueryServiceState(const std::string& name) {
    ServiceStatus status;
    if (!SendServiceControl(name, ServiceControlInterrogate, status)) {
        return "not running";
    }
    switch (status.currentState) {
        case ServiceStopped:
            return "stopped";
        case ServiceStartPending:
            return "starting";
        case ServiceStopPending:
            return "stopping";
        case ServiceRunning:
            return "running";
        case ServiceContinuePending:
            return "continuing";
        case ServicePausePending:
            return "pausing";
        case ServicePaused:
            return "paused";
        default:
            return "in state " + std::to_string(status.currentState);
    }
}

std::vector<std::string> NewestServiceEvents(const std::string& name, std::size_t count) {
    std::vector<std::string> lines;
    for (const HistoryEntry& entry : ReadEventLogHistory("Application", name)) {
        if (lines.size() == count) {
            break;
        }
        lines.push_back(entry.line);
    }
    return lines;
}

}  // namespace quarnel
