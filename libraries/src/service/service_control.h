#pragma once

// Sending a control to a running service process of this machine (root or the service's own user
// only).

#include <cstdint>
#include <string>

#include "platform/service_host.h"

namespace quarnel {

// Delivers control (with eventType for power events) to the named service and receives its status
// after handling. True when the service accepted it; false when the service process cannot be
// reached, refuses the caller, knows no such service, or the service is stopped or starting or
// stopping (it then takes only a stop while starting).
bool SendServiceControl(const std::string& name, std::uint32_t control, ServiceStatus& status,
                        std::uint32_t eventType = 0);

}  // namespace quarnel
