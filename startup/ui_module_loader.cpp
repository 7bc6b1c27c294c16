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
namespace {

// The module's name without the platform's suffix.
constexpr const char* kUiModuleName = "quarnel-updater-ui";

// One line on standard error and the same in the log.
void ReportDesktopFailure(const std::string& text) {
    QLOG(kLogError, "LoadUiModule", text);
    std::fprintf(stderr, "quarnel-updater: %s\n", text.c_str());
}

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of(PathSeparators());
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

// The module stays loaded for the rest of the process: Qt cannot be unloaded safely.
void* OpenUiModule() {
    std::string reasons;
    for (const std::string& candidate : UiModuleCandidates(GetProgramPath())) {
        if (!FileExists(candidate)) {
            continue;
        }
        std::string error;
        void* module = LoadSharedModule(candidate, error);
        if (module != nullptr) {
            QLOG(kLogDebug, "LoadUiModule", "Loaded " + candidate);
            return module;
        }
        // The reason names what is missing, for example a Qt library.
        ReportDesktopFailure("the desktop module could not be loaded: " + error);
        return nullptr;
    }
    ReportDesktopFailure("the desktop module " + SharedModuleFileName(kUiModuleName) +
                         " is not installed beside the program; the tray and the windows need it");
    return nullptr;
}

}  // namespace

std::vector<std::string> UiModuleCandidates(const std::string& programPath) {
    if (!IsAbsolutePath(programPath)) {
        return {};
    }
    const std::string folder = FolderOf(programPath);
    const std::string file = SharedModuleFileName(kUiModuleName);
    return {folder + "/" + file, folder + "/../lib/quarnel-updater/" + file};
}

void* LoadUiModuleEntry(const char* symbol) {
    void* module = OpenUiModule();
    if (module == nullptr) {
        return nullptr;
    }
    const auto version =
        reinterpret_cast<QuarnelUiModuleVersion>(FindModuleSymbol(module, kUiModuleVersionSymbol));
    if (version == nullptr || version() != kUiModuleVersion) {
        ReportDesktopFailure("the desktop module belongs to another build of the program");
        return nullptr;
    }
    void* entry = FindModuleSymbol(module, symbol);
    if (entry == nullptr) {
        ReportDesktopFailure("the desktop module has no entry " + std::string(symbol));
    }
    return entry;
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
