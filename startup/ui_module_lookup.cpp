// Finding the Qt desktop module beside the program and its entry points.

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include "diagnostics/log.h"
#include "platform/process.h"
#include "platform/shared_module.h"
#include "startup/ui_module_loader.h"
#include "ui/ui_module.h"

namespace quarnel {

namespace {

// The module's name without the platform's suffix.
constexpr const char* kUiModuleName = "quarnel-updater-ui";

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

}  // namespace quarnel
