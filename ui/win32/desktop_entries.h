#pragma once

// The entry points of the Windows desktop, under the names the Qt module's have (ui_module.h):
// the program calls them after a mode's instance check, as it calls the module's on Linux.

#include <cstddef>
#include <cstdint>

extern "C" {
std::int64_t quarnel_ui_run_systray();
std::int64_t quarnel_ui_run_setting();
std::int64_t quarnel_ui_run_update(std::int32_t beta);
std::int64_t quarnel_ui_run_crash_window(const char* report, std::size_t size);
}
