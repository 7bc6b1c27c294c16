#include "startup/apply_operations.h"

#include <cstdio>
#include <string>

#include "diagnostics/log.h"

namespace quarnel {
namespace {

// Service management, the administrator test and the program start come with later parts of
// the program: until then, say so in the log and on standard error, and report failure (0).
std::int64_t NotAvailableYet(const char* procedure) {
    QLOG(kLogWarn, procedure, std::string(procedure) + " is not available in this build yet");
    std::fprintf(stderr, "quarnel-updater: %s is not available in this build yet\n", procedure);
    return 0;
}

}  // namespace

ApplyOperations DefaultApplyOperations() {
    ApplyOperations operations;
    operations.setAutostart = [](int) { return NotAvailableYet("SetAutostart"); };
    operations.serviceExists = [] { return NotAvailableYet("ServiceExists"); };
    operations.controlService = [](std::uint32_t) {
        return NotAvailableYet("ControlServiceByName");
    };
    operations.isCurrentUserAdmin = [] { return NotAvailableYet("IsCurrentUserAdmin"); };
    operations.startProgram = [](const std::string&) { return NotAvailableYet("StartProgram"); };
    return operations;
}

}  // namespace quarnel
