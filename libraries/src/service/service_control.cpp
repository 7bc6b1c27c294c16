#include "libraries/src/service/service_control.h"

namespace quarnel {

bool SendServiceControl(const std::string& name, std::uint32_t control, ServiceStatus& status,
                        std::uint32_t eventType) {
    if (name.empty()) {
        return false;  // an empty name would address every service of the process
    }
    ServiceHostControl request;
    request.serviceName = name;
    request.control = control;
    request.eventType = eventType;
    return SendServiceHostControl(request, status);
}

}  // namespace quarnel
