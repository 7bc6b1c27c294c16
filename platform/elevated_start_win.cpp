#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <string>
#include <vector>

#include "platform/command_line_win.h"
#include "platform/elevated_start.h"
#include "platform/handle_win.h"
#include "platform/wide_text_win.h"

namespace quarnel {

ElevatedStart StartElevatedProgram(const std::string& file,
                                   const std::vector<std::string>& parameters,
                                   const std::string& directory) {
    ElevatedStart start;
    const std::wstring arguments = BuildCommandLine(parameters);
    const std::wstring program = Widen(file);
    const std::wstring folder = Widen(directory);
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
    info.lpVerb = L"runas";
    info.lpFile = program.c_str();
    info.lpParameters = arguments.c_str();
    info.lpDirectory = folder.empty() ? nullptr : folder.c_str();
    info.nShow = SW_SHOWNORMAL;
    if (!::ShellExecuteExW(&info) || info.hProcess == nullptr) {
        start.failedProgram = file;
        return start;
    }
    start.program.processId = static_cast<int>(::GetProcessId(info.hProcess));
    start.program.handle = OwnWindowsHandle(info.hProcess);
    return start;
}

bool CanStartElevatedProgram() {
    return true;
}

std::string CurrentDirectory() {
    const DWORD length = ::GetCurrentDirectoryW(0, nullptr);
    if (length == 0) {
        return "\\";
    }
    std::wstring path(length, L'\0');
    const DWORD written = ::GetCurrentDirectoryW(length, path.data());
    if (written == 0 || written >= length) {
        return "\\";
    }
    path.resize(written);
    return Narrow(path);
}

}  // namespace quarnel
