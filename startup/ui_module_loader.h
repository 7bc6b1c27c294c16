#pragma once

// The desktop modes and their desktop: on Linux the Qt module (ui/ui_module.h), loaded for a
// desktop mode (ui_module_lookup.cpp); on Windows the Win32 windows linked into the program,
// whose entry points LoadUiModuleEntry names alike (ui_module_lookup_win.cpp).

#include <cstdint>
#include <string>
#include <vector>

// IsDisplayNamed: whether the desktop modes can show windows here.
#include "platform/shared_module.h"

namespace quarnel {

// One line on standard error (after "quarnel-updater: ") and the same in the log.
void ReportDesktopFailure(const std::string& text);

// Where the module is looked for, in order, for a program at programPath.
std::vector<std::string> UiModuleCandidates(const std::string& programPath);

// Loads the module and returns the entry point of that name with the module's version checked,
// or null after one line on standard error (and the log) saying what is missing.
void* LoadUiModuleEntry(const char* symbol);

// The systray mode: the instance check (a second tray asks the first to open the settings and
// ends with the broadcast's result), then the tray windows from the module. Without a display
// or the module: one line on standard error and exit code 0.
std::int64_t RunSystrayProcess();

// The setting mode: the instance check (a second one brings the open window to the front and
// ends with the broadcast's result), an installed but stopped service started, the software
// update check for an administrator, then the settings window from the module.
std::int64_t RunSettingProcess();

// The update mode: the instance check (a second update process ends at once, without a
// message), then the version check and the update window from the module.
std::int64_t RunUpdateProcess(bool beta);

}  // namespace quarnel
