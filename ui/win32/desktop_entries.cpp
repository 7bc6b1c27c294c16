#include "ui/win32/desktop_entries.h"

#include <windows.h>
// After windows.h, which they need.
#include <commctrl.h>
#include <objbase.h>

#include <string>

#include "ui/win32/crash_win.h"
#include "ui/win32/gadgets_win.h"
#include "ui/win32/settings_win.h"
#include "ui/win32/tray_win.h"
#include "ui/win32/update_win.h"

namespace {

// What every window of the desktop needs first: no console of its own, the common controls
// (version 6, by the manifest) and COM for the imaging component.
void PrepareDesktop() {
    quarnel::win32::LeaveOwnConsole();
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES | ICC_LINK_CLASS | ICC_TAB_CLASSES |
                     ICC_PROGRESS_CLASS | ICC_TREEVIEW_CLASSES;
    ::InitCommonControlsEx(&controls);
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
}

}  // namespace

extern "C" std::int64_t quarnel_ui_run_systray() {
    PrepareDesktop();
    return quarnel::win32::RunSystrayWindows();
}

extern "C" std::int64_t quarnel_ui_run_setting() {
    PrepareDesktop();
    return quarnel::win32::RunSettingWindows();
}

extern "C" std::int64_t quarnel_ui_run_update(std::int32_t beta) {
    PrepareDesktop();
    return quarnel::win32::RunUpdateWindows(beta != 0);
}

extern "C" std::int64_t quarnel_ui_run_crash_window(const char* report, std::size_t size) {
    PrepareDesktop();
    return quarnel::win32::RunCrashWindow(std::string(report, size));
}
