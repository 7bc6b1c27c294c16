#include <cstdio>
#include <string>

#include "diagnostics/log.h"
#include "libraries/src/service/autostart.h"
#include "libraries/src/service/service_manager.h"
#include "platform/process.h"
#include "resources/texts.h"
#include "service/service_process.h"
#include "settings/identity.h"
#include "settings/migration.h"
#include "settings/registry.h"
#include "settings/schema.h"
#include "startup/apply_operations.h"
#include "startup/configure_command.h"
#include "startup/instance.h"
#include "startup/process_main.h"
#include "startup/status_command.h"
#include "startup/ui_module_loader.h"

namespace quarnel {
namespace {

// Operations that later parts of the program provide: until they exist, say so in the log and on
// standard error, and report failure (0).
std::int64_t NotAvailableYet(const char* procedure) {
    QLOG(kLogWarn, procedure, std::string(procedure) + " is not available in this build yet");
    std::fprintf(stderr, "quarnel-updater: %s is not available in this build yet\n", procedure);
    return 0;
}

}  // namespace

ProcessActions DefaultProcessActions() {
    ProcessActions actions;
    actions.recordClientIdentity = [] { return std::int64_t{RecordClientIdentity()}; };
    actions.migrateSettings = [] { return std::int64_t{MigrateSettings()}; };
    actions.installService = InstallService;
    actions.startServiceByName = StartServiceByName;
    actions.stopServiceByName = StopServiceByName;
    actions.deleteServiceByName = DeleteServiceByName;
    actions.broadcastInstanceMessage = [](int code) { return BroadcastInstanceMessage(code); };
    actions.verifyFileSignature = [](const std::string&) {
        return NotAvailableYet("VerifyFileSignature");
    };
    actions.setAutostart = SetAutostart;
    actions.configure = [] {
        // Changing settings from a command line never starts the window of the software
        // update, whatever the beta choice.
        ApplyOperations operations = DefaultApplyOperations();
        operations.isCurrentUserAdmin = nullptr;
        operations.startProgram = nullptr;
        return RunConfigure(operations);
    };
    actions.showStatus = RunStatus;
    actions.readSoftwareBeta = [] {
        return ReadRegistryDword(RegistryHive::LocalMachine, kProductKey, kValueSoftwareBeta);
    };
    actions.runSystrayProcess = [] { return RunSystrayProcess(); };
    actions.runSettingProcess = [] { return NotAvailableYet("RunSettingProcess"); };
    actions.runServiceProcess = [] { return RunServiceProcess(); };
    actions.runUpdateProcess = [](bool) { return NotAvailableYet("RunUpdateProcess"); };
    actions.programPath = [] { return GetProgramPath(); };
    actions.loadText = [](int textId) { return LoadResourceText(textId); };
    return actions;
}

}  // namespace quarnel
