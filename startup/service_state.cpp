#include <cstdint>
#include <string>
#include <string_view>

#include "libraries/src/service/service_library.h"
#include "startup/service_status.h"

namespace quarnel {

ServiceState ServiceStateOf(std::uint32_t currentState) {
    switch (currentState) {
        case ServiceStopped:
            return {ServiceRunState::Stopped, "stopped"};
        case ServiceStartPending:
            return {ServiceRunState::Starting, "starting"};
        case ServiceStopPending:
            return {ServiceRunState::Stopping, "stopping"};
        case ServiceRunning:
            return {ServiceRunState::Running, "running"};
        case ServiceContinuePending:
            return {ServiceRunState::Running, "continuing"};
        case ServicePausePending:
            return {ServiceRunState::Paused, "pausing"};
        case ServicePaused:
            return {ServiceRunState::Paused, "paused"};
        default:
            return {ServiceRunState::Unknown, "in state " + std::to_string(currentState)};
    }
}

std::string_view ServiceRunStateName(ServiceRunState state) {
    switch (state) {
        case ServiceRunState::Running:
            return "running";
        case ServiceRunState::Paused:
            return "paused";
        case ServiceRunState::Starting:
            return "starting";
        case ServiceRunState::Stopping:
            return "stopping";
        case ServiceRunState::Stopped:
            return "stopped";
        case ServiceRunState::Failed:
            return "failed";
        case ServiceRunState::Unknown:
            break;
    }
    return "unknown";
}

}  // namespace quarnel
