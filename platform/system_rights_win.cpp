#include <windows.h>

#include <string>

#include "platform/elevation.h"
#include "platform/system_rights.h"
#include "platform/wide_text_win.h"

namespace quarnel {

// The membership check looks at the token the process runs with: a user of the group whose
// process was not elevated is no member there.
bool HasSystemRights() {
    return IsCurrentUserAdmin() == 1;
}

const char* SystemRightsAdvice() {
    return "administrator rights (run it from a command prompt opened as administrator)";
}

// A file that can be made is the one sure answer; it goes again at once.
bool CanWriteFolder(const std::string& folder) {
    const std::wstring probe =
        Widen(folder) + L"\\.quarnel-write-check-" + std::to_wstring(::GetCurrentProcessId());
    const HANDLE file =
        ::CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                      FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    ::CloseHandle(file);
    return true;
}

}  // namespace quarnel
