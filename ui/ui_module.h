#pragma once

// The desktop module: the boundary between the program and its windows.
//
// Everything that needs Qt (the tray icon, its balloons and menu, the history and diagnose
// windows) is built into quarnel-updater-ui.so, which the program loads with dlopen only when a
// desktop mode starts. The service and every one-shot switch therefore run on a machine without
// Qt or a display, and /service never maps a Qt library.
//
// What the program does before it calls the module:
//   - the whole start-up (log settings, instance message name) and the mode's instance check: the
//     module runs only in the process that holds the mode's instance marker;
//   - it makes sure a display is named (QT_QPA_PLATFORM, WAYLAND_DISPLAY or DISPLAY), so Qt is
//     never asked to open a desktop that is not there.
// What the module asks of the program: the program's own operations (store, event log, texts,
// images, address detection, LaunchSettings, ...), which the executable exports and the module
// binds to when it is loaded; it carries no second copy of them, so there is one log, one
// instance table and one GlobalHandles record.
// What the module never does: install or remove anything, or end the process. It writes the
// store and tells the service only through the program's own apply operation (the settings
// window's OK); it returns the mode's exit code and the program exits with it.
// A display that Qt cannot open gives one line on standard error and exit code 0.
//
// The module is found relative to the executable: beside it (the build folder), or in
// ../lib/quarnel-updater/ (installed). The entry points below have C linkage and are looked up by
// name; the version must equal kUiModuleVersion, or the program refuses the module.

#include <cstddef>
#include <cstdint>

namespace quarnel {

inline constexpr const char* kUiModuleFileName = "quarnel-updater-ui.so";
inline constexpr std::int32_t kUiModuleVersion = 1;
inline constexpr const char* kUiModuleVersionSymbol = "quarnel_ui_module_version";
inline constexpr const char* kUiRunSystraySymbol = "quarnel_ui_run_systray";
inline constexpr const char* kUiRunSettingSymbol = "quarnel_ui_run_setting";
inline constexpr const char* kUiRunCrashWindowSymbol = "quarnel_ui_run_crash_window";
inline constexpr const char* kUiRunUpdateSymbol = "quarnel_ui_run_update";

}  // namespace quarnel

extern "C" {
// kUiModuleVersion of the module's build.
using QuarnelUiModuleVersion = std::int32_t (*)();
// The systray mode after its instance check: the tray icon and its windows until the tray is
// closed; returns the exit code (0).
using QuarnelUiRunSystray = std::int64_t (*)();
// The setting mode after its instance check: the settings window until OK, Cancel, its close
// box, instance code 1 or the end of the process that opened it; returns the exit code (0).
using QuarnelUiRunSetting = std::int64_t (*)();
// The crash reporter of a desktop mode: the "Application Error" window with the report (size
// bytes, not terminated) until the user closes it or the tracker has answered a send; returns
// the exit code (0).
using QuarnelUiRunCrashWindow = std::int64_t (*)(const char* report, std::size_t size);
// The update mode after its instance check: the version check of the channel (beta not 0: the
// beta channel), and the update window when a newer version is offered, until it closes or the
// update is installed; returns the exit code (0).
using QuarnelUiRunUpdate = std::int64_t (*)(std::int32_t beta);
}
