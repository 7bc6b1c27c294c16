#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/process.h"
#include "platform/wide_text_win.h"

namespace quarnel {

std::uint64_t CurrentProcessId() {
    return ::GetCurrentProcessId();
}

std::uint64_t CurrentThreadId() {
    return ::GetCurrentThreadId();
}

// Windows names accounts by security identifier, not by number: 0 stands for the system account
// (the service's), which is what the core compares with, and 1 for any other account.
std::uint32_t CurrentUserId() {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return 1;
    }
    alignas(TOKEN_USER) unsigned char buffer[256];
    DWORD size = 0;
    const bool known = ::GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size);
    ::CloseHandle(token);
    return known && ::IsWellKnownSid(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid,
                                     WinLocalSystemSid)
               ? 0
               : 1;
}

std::vector<std::string> ProgramArguments(int /*argc*/, char** /*argv*/) {
    std::vector<std::string> arguments;
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (wide == nullptr) {
        return arguments;
    }
    for (int i = 1; i < count; ++i) {
        arguments.push_back(Narrow(wide[i]));
    }
    ::LocalFree(wide);
    return arguments;
}

std::string GetProgramPath() {
    std::wstring path(MAX_PATH, L'\0');
    for (int attempt = 0; attempt < 6; ++attempt) {
        const DWORD length =
            ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            return {};
        }
        if (length < path.size()) {
            path.resize(length);
            return Narrow(path);
        }
        path.resize(path.size() * 2);
    }
    return {};
}

// The process heap of Windows has no per-thread arenas to merge.
void UseOneAllocationArena() {}

void ReleaseUnusedMemory() {
    (void)::HeapCompact(::GetProcessHeap(), 0);
}

void WipeMemory(void* data, std::size_t size) {
    ::SecureZeroMemory(data, size);
}

std::uint32_t GetLastErrorCode() {
    return ::GetLastError();
}

std::string SystemErrorText(std::uint32_t code) {
    if (code == 0) {
        return {};
    }
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    if (length == 0 || text == nullptr) {
        return {};
    }
    std::wstring message(text, length);
    ::LocalFree(text);
    // The system's texts end with a line break (and often a full stop before it).
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' ||
                                message.back() == L' ' || message.back() == L'.')) {
        message.pop_back();
    }
    return Narrow(message);
}

}  // namespace quarnel
