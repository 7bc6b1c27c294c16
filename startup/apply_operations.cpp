#include "startup/apply_operations.h"

#include <cstdio>
#include <string>

#include "diagnostics/log.h"
#include "libraries/src/service/autostart.h"
#include "libraries/src/service/service_manager.h"
#include "platform/elevation.h"
#include "platform/process.h"
#include "startup/process_main.h"

namespace quarnel {
namespace {

// The program start comes with a later part of the program: until then, say so in the log and
// on standard error, and report failure (0).
std::int64_t NotAvailableYet(const char* procedure) {
    QLOG(kLogWarn, procedure, std::string(procedure) + " is not available in this build yet");
    std::fprintf(stderr, "quarnel-updater: %s is not available in this build yet\n", procedure);
    return 0;
}

}  // namespace

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
    operations.startProgram = [](const std::string&) { return NotAvailableYet("StartProgram"); };
    return operations;
}

}  // namespace quarnel
