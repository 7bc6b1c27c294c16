#pragma once

// The setting mode's windows, after the program's instance check: the settings window, its
// instance messages and its watch thread, until the window closes.

#include <cstdint>

namespace quarnel {

std::int64_t RunSettingWindows();

}  // namespace quarnel
