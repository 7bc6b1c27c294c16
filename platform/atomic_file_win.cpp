#include <windows.h>

#include <cerrno>
#include <cstddef>
#include <string>
#include <string_view>

#include "platform/atomic_file.h"
#include "platform/file_io.h"
#include "platform/handle_win.h"
#include "platform/wide_text_win.h"

namespace quarnel {

// MoveFileExW with MOVEFILE_WRITE_THROUGH returns only once the rename is on disk; there is no
// folder to flush of its own.
bool SyncFolder(const std::string& folder) {
    return IsDirectory(folder);
}

bool WriteFileAtomically(const std::string& path, std::string_view content, unsigned /*mode*/) {
    const std::size_t slash = path.find_last_of("/\\");
    if (path.empty() || slash == path.size() - 1) {
        errno = EINVAL;
        return false;
    }
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::string temporary = folder + "\\." + name + "." +
                                  std::to_string(::GetCurrentProcessId()) + "." +
                                  std::to_string(::GetCurrentThreadId());
    const std::wstring temporaryName = Widen(temporary);
    bool written = false;
    {
        const UniqueHandle file = OwnWindowsHandle(
            ::CreateFileW(temporaryName.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_HIDDEN, nullptr));
        written = file && WriteAll(file.Get(), content.data(), content.size()) &&
                  ::FlushFileBuffers(AsWindowsHandle(file.Get()));
    }
    if (!written || !::MoveFileExW(temporaryName.c_str(), Widen(path).c_str(),
                                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        ::DeleteFileW(temporaryName.c_str());
        return false;
    }
    return true;
}

bool RemoveFileDurably(const std::string& path) {
    if (!::DeleteFileW(Widen(path).c_str())) {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    return true;
}

}  // namespace quarnel
