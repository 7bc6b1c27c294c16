#include <cstdio>
#include <string>

#include "diagnostics/log.h"
#include "platform/process.h"
#include "resources/texts.h"
#include "service/service_process.h"
#include "settings/identity.h"
#include "settings/migration.h"
#include "startup/instance.h"
#include "startup/process_main.h"

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
    actions.installService = [](const std::string&, const std::string&, const std::string&,
                                const std::string&, const std::string&,
                                const std::string&) { return NotAvailableYet("InstallService"); };
    actions.startServiceByName = [](const std::string&) {
        return NotAvailableYet("StartServiceByName");
    };
    actions.stopServiceByName = [](const std::string&) {
        return NotAvailableYet("StopServiceByName");
    };
    actions.deleteServiceByName = [](const std::string&) {
        return NotAvailableYet("DeleteServiceByName");
    };
    actions.broadcastInstanceMessage = [](int code) { return BroadcastInstanceMessage(code); };
    actions.verifyFileSignature = [](const std::string&) {
        return NotAvailableYet("VerifyFileSignature");
    };
    actions.setAutostart = [](const std::string&, const std::string&, int) {
        return NotAvailableYet("SetAutostart");
    };
    actions.readSoftwareBeta = [] { return std::int64_t{0}; };
    actions.runSystrayProcess = [] { return NotAvailableYet("RunSystrayProcess"); };
    actions.runSettingProcess = [] { return NotAvailableYet("RunSettingProcess"); };
    actions.runServiceProcess = [] { return RunServiceProcess(); };
    actions.runUpdateProcess = [](bool) { return NotAvailableYet("RunUpdateProcess"); };
    actions.programPath = [] { return GetProgramPath(); };
    actions.loadText = [](int textId) { return LoadResourceText(textId); };
    return actions;
}

}  // namespace quarnel
