#include "startup/apply_operations.h"

#include <cstdint>
#include <string>

#include "diagnostics/log.h"
#include "libraries/src/service/autostart.h"
#include "libraries/src/service/service_manager.h"
#include "platform/child_process.h"
#include "platform/elevation.h"
#include "platform/process.h"
#include "startup/process_main.h"

namespace quarnel {

ApplyOperations DefaultApplyOperations() {
    ApplyOperations operations;
    operations.setAutostart = [](int mode) {
        return SetAutostart(ServiceName, GetProgramPath(), mode);
    };
    operations.serviceExists = [] { return ServiceExists(ServiceName); };
    operations.controlService = [](std::uint32_t code) {
        return ControlServiceByName(ServiceName, code);
    };
    operations.isCurrentUserAdmin = [] { return std::int64_t{IsCurrentUserAdmin()}; };
    operations.startProgram = [](const std::string& argument) {
        return std::int64_t{StartDetachedProgram({GetProgramPath(), argument})};
    };
    return operations;
}

}  // namespace quarnel
