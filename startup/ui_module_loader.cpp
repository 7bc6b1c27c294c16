#include "startup/ui_module_loader.h"

#include <cstddef>
#include <cstdio>

#include "diagnostics/log.h"
#include "libraries/src/service/service_manager.h"
#include "platform/child_process.h"
#include "platform/elevation.h"
#include "platform/process.h"
#include "platform/product.h"
#include "platform/shared_module.h"
#include "startup/instance.h"
#include "ui/ui_module.h"

namespace quarnel {

void ReportDesktopFailure(const std::string& text) {
    QLOG(kLogError, "LoadUiModule", text);
    std::fprintf(stderr, "quarnel-updater: %s\n", text.c_str());
}

std::int64_t RunSystrayProcess() {
    if (IsInstanceRunning(SystrayInstanceGuid) == 1) {
        QLOG(kLogInfo, "RunSystrayProcess", "Systray process is already running");
        return BroadcastInstanceMessage(InstanceCodeOpenSettings);
    }
    if (!IsDisplayNamed()) {
        ReportDesktopFailure(std::string("no display: the tray needs a desktop session (") +
                             DisplayRequirement() + ")");
        return 0;
    }
    const auto run = reinterpret_cast<QuarnelUiRunSystray>(LoadUiModuleEntry(kUiRunSystraySymbol));
    return run != nullptr ? run() : 0;
}

std::int64_t RunSettingProcess() {
    if (IsInstanceRunning(SettingInstanceGuid) == 1) {
        QLOG(kLogInfo, "RunSettingProcess", "Setting process is already running");
        return BroadcastInstanceMessage(InstanceCodeShow);
    }
    if (!IsDisplayNamed()) {
        ReportDesktopFailure(
            std::string("no display: the settings window needs a desktop session (") +
            DisplayRequirement() + ")");
        return 0;
    }
    const auto run = reinterpret_cast<QuarnelUiRunSetting>(LoadUiModuleEntry(kUiRunSettingSymbol));
    if (run == nullptr) {
        return 0;
    }
    // The status lines show what the service does; a running service stays running.
    if (ServiceExists(ServiceName) == 1 && StartServiceByName(ServiceName) == 0) {
        QLOG(kLogWarn, "RunSettingProcess", "Unable to start the service");
    }
    if (IsCurrentUserAdmin() == 1 && !StartDetachedProgram({GetProgramPath(), "/update"})) {
        QLOG(kLogError, "RunSettingProcess", "Unable to start the software update check");
    }
    return run();
}

std::int64_t RunUpdateProcess(bool beta) {
    if (IsInstanceRunning(UpdateInstanceGuid) == 1) {
        // The settings' OK starts this process after a change of channel: the running one
        // checks the new channel itself, unless it is already installing.
        QLOG(kLogInfo, "RunUpdateProcess", "Update process is already running");
        (void)SendInstanceMessage(UpdateInstanceGuid, InstanceCodeUpdateChannel);
        return 0;
    }
    if (!IsDisplayNamed()) {
        ReportDesktopFailure(
            std::string("no display: the software update needs a desktop session (") +
            DisplayRequirement() + ")");
        return 0;
    }
    const auto run = reinterpret_cast<QuarnelUiRunUpdate>(LoadUiModuleEntry(kUiRunUpdateSymbol));
    return run != nullptr ? run(beta ? 1 : 0) : 0;
}

}  // namespace quarnel
