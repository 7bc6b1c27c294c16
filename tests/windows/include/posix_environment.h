#pragma once

// Included ahead of every Windows test source: the POSIX environment calls that the core's tests
// use, on the C runtime's copy and the system's (which the program under test reads) alike, and
// the effective user's number (0 for the system account, as the platform layer numbers it).

#include <windows.h>

#include <cstdlib>
#include <string>

#include "platform/process.h"
#include "platform/wide_text_win.h"

inline int setenv(const char* name, const char* value, int overwrite) {
    if (overwrite == 0 && std::getenv(name) != nullptr) {
        return 0;
    }
    const std::wstring wideName = quarnel::Widen(name);
    const std::wstring wideValue = quarnel::Widen(value);
    ::SetEnvironmentVariableW(wideName.c_str(), wideValue.c_str());
    return ::_wputenv_s(wideName.c_str(), wideValue.c_str()) == 0 ? 0 : -1;
}

inline int unsetenv(const char* name) {
    const std::wstring wideName = quarnel::Widen(name);
    ::SetEnvironmentVariableW(wideName.c_str(), nullptr);
    return ::_wputenv_s(wideName.c_str(), L"") == 0 ? 0 : -1;
}

inline unsigned geteuid() {
    return quarnel::CurrentUserId();
}
