#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/file_io.h"
#include "platform/handle_win.h"
#include "platform/wide_text_win.h"

namespace quarnel {

// Modes are a Linux notion; the file inherits the access rules of its folder. Handles are not
// inherited unless a program is started with them named.
UniqueHandle OpenReadWriteFile(const std::string& path, unsigned /*mode*/) {
    return OwnWindowsHandle(::CreateFileW(Widen(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// A file made here gets the default rules of its folder: its owner and the administrators; an
// existing file keeps the rules it has, which Windows does not widen by writing.
UniqueHandle CreatePrivateFile(const std::string& path, bool& plainFile) {
    UniqueHandle file =
        OwnWindowsHandle(::CreateFileW(Widen(path).c_str(), GENERIC_WRITE, 0, nullptr,
                                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file) {
        plainFile = ::GetFileType(AsWindowsHandle(file.Get())) == FILE_TYPE_DISK;
    }
    return file;
}

bool RemoveFile(const std::string& path) {
    if (::DeleteFileW(Widen(path).c_str())) {
        return true;
    }
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool SeekToEnd(NativeHandle file) {
    return ::SetFilePointerEx(AsWindowsHandle(file), LARGE_INTEGER{}, nullptr, FILE_END);
}

bool WriteAll(NativeHandle file, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    while (size > 0) {
        const DWORD chunk = size > 0x10000000 ? 0x10000000 : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!::WriteFile(AsWindowsHandle(file), bytes, chunk, &written, nullptr) || written == 0) {
            return false;
        }
        bytes += written;
        size -= written;
    }
    return true;
}

bool ReadWholeFile(const std::string& path, std::size_t maxBytes, std::vector<std::uint8_t>& out) {
    out.clear();
    const UniqueHandle file = OwnWindowsHandle(::CreateFileW(
        Widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return false;
    }
    std::uint8_t buffer[8192];
    while (true) {
        DWORD got = 0;
        if (!::ReadFile(AsWindowsHandle(file.Get()), buffer, sizeof buffer, &got, nullptr)) {
            return false;
        }
        if (got == 0) {
            return true;
        }
        if (out.size() + got > maxBytes) {
            out.clear();
            return false;
        }
        out.insert(out.end(), buffer, buffer + got);
    }
}

bool IsDirectory(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesW(Widen(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace quarnel
