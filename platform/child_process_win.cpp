#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

#include "platform/child_process.h"
#include "platform/command_line_win.h"
#include "platform/handle_win.h"
#include "platform/wide_text_win.h"

namespace quarnel {
namespace {

constexpr std::size_t kOutputLimit = 64 * 1024;

std::wstring QuotedArgument(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        return argument;
    }
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted.push_back(c);
    }
    quoted.append(backslashes * 2, L'\\');
    quoted.push_back(L'"');
    return quoted;
}

bool IsFullPath(const std::string& path) {
    return (path.size() > 2 && path[1] == ':' && (path[2] == '\\' || path[2] == '/')) ||
           path.starts_with("\\\\");
}

// Starts the program; standard input from the null device, standard output and error to
// output (or to the null device as well when output is null).
bool Start(const std::vector<std::string>& arguments, const std::string& directory, HANDLE output,
           DWORD flags, PROCESS_INFORMATION& process) {
    if (arguments.empty() || !IsFullPath(arguments[0])) {
        return false;
    }
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    const UniqueHandle nothing = OwnWindowsHandle(
        ::CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      &inheritable, OPEN_EXISTING, 0, nullptr));
    if (!nothing) {
        return false;
    }
    HANDLE inherited[2] = {AsWindowsHandle(nothing.Get()), output};
    const DWORD handleCount = output != nullptr ? 2 : 1;
    SIZE_T size = 0;
    ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    std::vector<unsigned char> attributes(size);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributes.data());
    if (!::InitializeProcThreadAttributeList(list, 1, 0, &size)) {
        return false;
    }
    // Only these handles reach the program, whatever else this process holds.
    const bool listed =
        ::UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                    handleCount * sizeof(HANDLE), nullptr, nullptr);
    STARTUPINFOEXW info{};
    info.StartupInfo.cb = sizeof info;
    info.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    info.StartupInfo.hStdInput = inherited[0];
    info.StartupInfo.hStdOutput = output != nullptr ? output : inherited[0];
    info.StartupInfo.hStdError = info.StartupInfo.hStdOutput;
    info.lpAttributeList = list;
    std::wstring commandLine = BuildCommandLine(arguments);
    const std::wstring program = Widen(arguments[0]);
    const std::wstring folder = Widen(directory);
    const bool started =
        listed &&
        ::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                         flags | EXTENDED_STARTUPINFO_PRESENT | CREATE_NO_WINDOW, nullptr,
                         folder.empty() ? nullptr : folder.c_str(), &info.StartupInfo, &process);
    ::DeleteProcThreadAttributeList(list);
    return started;
}

}  // namespace

std::wstring BuildCommandLine(const std::vector<std::string>& arguments) {
    std::wstring line;
    for (const std::string& argument : arguments) {
        line += (line.empty() ? L"" : L" ") + QuotedArgument(Widen(argument));
    }
    return line;
}

CommandResult RunCommand(const std::vector<std::string>& arguments, int timeoutMilliseconds) {
    CommandResult result;
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!::CreatePipe(&readEnd, &writeEnd, &inheritable, 0)) {
        return result;
    }
    const UniqueHandle reader = OwnWindowsHandle(readEnd);
    UniqueHandle writer = OwnWindowsHandle(writeEnd);
    ::SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    PROCESS_INFORMATION process{};
    if (!Start(arguments, {}, writeEnd, 0, process)) {
        return result;
    }
    result.started = true;
    const UniqueHandle processHandle = OwnWindowsHandle(process.hProcess);
    ::CloseHandle(process.hThread);
    writer.Reset();  // the pipe ends when the program (and what it started) closes its end
    const ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(timeoutMilliseconds);
    char buffer[4096];
    while (true) {
        DWORD available = 0;
        if (!::PeekNamedPipe(readEnd, nullptr, 0, nullptr, &available, nullptr)) {
            break;  // the program closed its end
        }
        if (available > 0) {
            DWORD got = 0;
            if (!::ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) || got == 0) {
                break;
            }
            const std::size_t room = kOutputLimit - result.output.size();
            result.output.append(buffer, got < room ? got : room);
            continue;
        }
        if (::GetTickCount64() >= deadline) {
            break;
        }
        if (::WaitForSingleObject(processHandle.Get() == kNoNativeHandle
                                      ? nullptr
                                      : AsWindowsHandle(processHandle.Get()),
                                  20) == WAIT_OBJECT_0) {
            // Ended: what it wrote last is still read above until the pipe is empty and closed.
            DWORD left = 0;
            if (::PeekNamedPipe(readEnd, nullptr, 0, nullptr, &left, nullptr) && left == 0) {
                break;
            }
        }
    }
    const HANDLE child = AsWindowsHandle(processHandle.Get());
    const ULONGLONG now = ::GetTickCount64();
    const DWORD wait = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
    if (::WaitForSingleObject(child, wait) != WAIT_OBJECT_0) {
        ::TerminateProcess(child, 1);
        ::WaitForSingleObject(child, INFINITE);
        return result;
    }
    DWORD exitCode = 0;
    if (::GetExitCodeProcess(child, &exitCode)) {
        result.finished = true;
        result.exitCode = static_cast<int>(exitCode);
    }
    return result;
}

bool StartDetachedProgram(const std::vector<std::string>& arguments) {
    PROCESS_INFORMATION process{};
    if (!Start(arguments, {}, nullptr, DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP, process)) {
        return false;
    }
    ::CloseHandle(process.hProcess);
    ::CloseHandle(process.hThread);
    return true;
}

StartedProgram StartProgramWithHandle(const std::vector<std::string>& arguments,
                                      const std::string& directory) {
    StartedProgram program;
    PROCESS_INFORMATION process{};
    if (!Start(arguments, directory, nullptr, 0, process)) {
        return program;
    }
    ::CloseHandle(process.hThread);
    program.processId = static_cast<int>(process.dwProcessId);
    program.handle = OwnWindowsHandle(process.hProcess);
    return program;
}

int WaitForStartedProgram(StartedProgram& program) {
    if (!program.handle) {
        return -1;
    }
    const HANDLE process = AsWindowsHandle(program.handle.Get());
    DWORD exitCode = 0;
    const bool ended = ::WaitForSingleObject(process, INFINITE) == WAIT_OBJECT_0 &&
                       ::GetExitCodeProcess(process, &exitCode);
    program.handle.Reset();
    program.processId = -1;
    return ended ? static_cast<int>(exitCode) : -1;
}

void WaitForProgramEnd(const StartedProgram& program) {
    if (program.handle) {
        ::WaitForSingleObject(AsWindowsHandle(program.handle.Get()), INFINITE);
    }
}

// Folders are separated by semicolons on Windows; a name without an extension is looked for as
// an .exe.
std::string FindExecutable(const std::string& name, const std::string& folders) {
    const std::string file = name.find('.') == std::string::npos ? name + ".exe" : name;
    std::size_t start = 0;
    while (start <= folders.size()) {
        const std::size_t end = folders.find(';', start);
        const std::string folder =
            folders.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!folder.empty()) {
            const std::string candidate = folder + "\\" + file;
            const DWORD attributes = ::GetFileAttributesW(Widen(candidate).c_str());
            if (attributes != INVALID_FILE_ATTRIBUTES &&
                (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
                return candidate;
            }
        }
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    return {};
}

}  // namespace quarnel
