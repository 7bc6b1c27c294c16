// On Windows the desktop is part of the program: its Win32 windows need nothing but the system's
// own libraries, so there is no module to look for, and the entry points are the linked ones.

#include <cstring>
#include <string>
#include <vector>

#include "startup/ui_module_loader.h"
#include "ui/ui_module.h"
#include "ui/win32/desktop_entries.h"

namespace quarnel {

std::vector<std::string> UiModuleCandidates(const std::string& /*programPath*/) {
    return {};
}

void* LoadUiModuleEntry(const char* symbol) {
    const struct {
        const char* name;
        void* entry;
    } entries[] = {
        {kUiRunSystraySymbol, reinterpret_cast<void*>(&quarnel_ui_run_systray)},
        {kUiRunSettingSymbol, reinterpret_cast<void*>(&quarnel_ui_run_setting)},
        {kUiRunUpdateSymbol, reinterpret_cast<void*>(&quarnel_ui_run_update)},
        {kUiRunCrashWindowSymbol, reinterpret_cast<void*>(&quarnel_ui_run_crash_window)},
    };
    for (const auto& entry : entries) {
        if (std::strcmp(entry.name, symbol) == 0) {
            return entry.entry;
        }
    }
    ReportDesktopFailure("the desktop has no entry " + std::string(symbol));
    return nullptr;
}

}  // namespace quarnel
