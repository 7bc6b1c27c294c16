// The crash handler on Windows: an unhandled-exception filter. On a fault it formats the report
// (with the exception's own code, its addresses and the registers of its context) into a
// section of memory made at install time, starts the program as the reporter with that section
// inherited, waits for it and ends the process: exit code 0, or 1 when it hosts the service, so
// that the service control manager sees a failure. Another thread that faults meanwhile waits
// for that end.

#include <windows.h>

#include <atomic>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <system_error>

#include "diagnostics/crash_handler.h"
#include "diagnostics/crash_report.h"
#include "diagnostics/log.h"

namespace quarnel {
namespace {

constexpr std::size_t kReportCapacity = 8192;
// Stack kept back for the filter when a thread runs out of it.
constexpr ULONG kStackGuarantee = 64 * 1024;

wchar_t programPath[MAX_PATH * 2];
HANDLE reportSection = nullptr;
char* reportView = nullptr;
std::atomic<int> reportKind{static_cast<int>(CrashReportKind::Send)};
std::atomic<DWORD> handlingThread{0};

void FillDetails(const EXCEPTION_POINTERS* exception, CrashDetails& details) {
    const EXCEPTION_RECORD* record = exception->ExceptionRecord;
    details.code = record->ExceptionCode;
    details.codeAddress = reinterpret_cast<std::uint64_t>(record->ExceptionAddress);
    if (record->ExceptionCode == EXCEPTION_ACCESS_VIOLATION && record->NumberParameters >= 2) {
        details.targetAddress = record->ExceptionInformation[1];
    }
    const CONTEXT* context = exception->ContextRecord;
    if (context != nullptr) {
        const std::uint64_t registers[kCrashRegisterCount] = {
            context->Rax, context->Rbx, context->Rcx, context->Rdx, context->Rbp,   context->Rsi,
            context->Rdi, context->Rsp, context->R8,  context->R9,  context->R10,   context->R11,
            context->R12, context->R13, context->R14, context->R15, context->EFlags};
        std::memcpy(details.registers, registers, sizeof registers);
        details.registersKnown = true;
    }
}

void RunReporter(CrashReportKind kind) {
    wchar_t commandLine[MAX_PATH * 2 + 64];
    char number[24];
    const std::size_t digits =
        FormatUnsigned(reinterpret_cast<std::uintptr_t>(reportSection), number);
    number[digits] = '\0';
    const char* kindName = CrashReportKindName(kind);
    int at = 0;
    auto put = [&](const wchar_t* text) {
        for (; *text != L'\0' && at < static_cast<int>(std::size(commandLine)) - 1; ++text) {
            commandLine[at++] = *text;
        }
    };
    auto putNarrow = [&](const char* text) {
        for (; *text != '\0' && at < static_cast<int>(std::size(commandLine)) - 1; ++text) {
            commandLine[at++] = static_cast<wchar_t>(*text);
        }
    };
    put(L"\"");
    put(programPath);
    put(L"\" ");
    putNarrow(kCrashReportSwitch);
    put(L" ");
    putNarrow(number);
    put(L" ");
    putNarrow(kindName);
    commandLine[at] = L'\0';

    SIZE_T size = 0;
    ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    alignas(16) unsigned char attributes[256];
    if (size > sizeof attributes) {
        return;
    }
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributes);
    if (!::InitializeProcThreadAttributeList(list, 1, 0, &size)) {
        return;
    }
    // The report section is the one handle the reporter gets.
    HANDLE inherited = reportSection;
    ::UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, &inherited,
                                sizeof inherited, nullptr, nullptr);
    STARTUPINFOEXW info{};
    info.StartupInfo.cb = sizeof info;
    info.lpAttributeList = list;
    PROCESS_INFORMATION process{};
    if (::CreateProcessW(programPath, commandLine, nullptr, nullptr, TRUE,
                         EXTENDED_STARTUPINFO_PRESENT, nullptr, nullptr, &info.StartupInfo,
                         &process)) {
        ::WaitForSingleObject(process.hProcess, INFINITE);
        ::CloseHandle(process.hProcess);
        ::CloseHandle(process.hThread);
    }
    ::DeleteProcThreadAttributeList(list);
}

LONG WINAPI ExceptionFilter(EXCEPTION_POINTERS* exception) {
    const DWORD thread = ::GetCurrentThreadId();
    DWORD expected = 0;
    if (!handlingThread.compare_exchange_strong(expected, thread)) {
        if (expected == thread) {
            // A fault while handling one: nothing more can be trusted here.
            ::TerminateProcess(::GetCurrentProcess(), 1);
        }
        // Another thread reports; the process ends when it is done.
        for (;;) {
            ::Sleep(INFINITE);
        }
    }
    CrashDetails details;
    FillDetails(exception, details);
    const std::size_t length = FormatCrashReport(details, reportView, kReportCapacity - 1);
    reportView[length] = '\0';
    const auto kind = static_cast<CrashReportKind>(reportKind.load());
    RunReporter(kind);
    ::TerminateProcess(::GetCurrentProcess(), kind == CrashReportKind::Service ? 1 : 0);
    return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

bool InstallCrashHandler() {
    const DWORD length = ::GetModuleFileNameW(nullptr, programPath, MAX_PATH * 2);
    if (length == 0 || length >= MAX_PATH * 2) {
        QLOG(kLogError, "", "Crash handler not installed: the program's path is unknown");
        return false;
    }
    if (reportSection == nullptr) {
        SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
        reportSection = ::CreateFileMappingW(INVALID_HANDLE_VALUE, &inheritable, PAGE_READWRITE, 0,
                                             kReportCapacity, nullptr);
        if (reportSection != nullptr) {
            reportView = static_cast<char*>(
                ::MapViewOfFile(reportSection, FILE_MAP_WRITE, 0, 0, kReportCapacity));
        }
    }
    if (reportSection == nullptr || reportView == nullptr) {
        QLOG(kLogError, "", "Crash handler not installed: no memory section for the report");
        return false;
    }
    ULONG guarantee = kStackGuarantee;
    (void)::SetThreadStackGuarantee(&guarantee);
    // No system error box: the report is the program's own.
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    ::SetUnhandledExceptionFilter(ExceptionFilter);
    return true;
}

void SetCrashReportKind(CrashReportKind kind) {
    reportKind.store(static_cast<int>(kind));
}

CrashReportKind GetCrashReportKind() {
    return static_cast<CrashReportKind>(reportKind.load());
}

// The argument is the inherited section's handle value.
std::optional<std::string> ReadCrashReportFile(const std::string& argument) {
    std::uintptr_t value = 0;
    const auto [end, error] =
        std::from_chars(argument.data(), argument.data() + argument.size(), value);
    if (error != std::errc() || end != argument.data() + argument.size() || value == 0) {
        return std::nullopt;
    }
    const HANDLE section = reinterpret_cast<HANDLE>(value);
    const char* view =
        static_cast<const char*>(::MapViewOfFile(section, FILE_MAP_READ, 0, 0, kReportCapacity));
    if (view == nullptr) {
        return std::nullopt;
    }
    const std::string report(view, ::strnlen(view, kReportCapacity));
    ::UnmapViewOfFile(view);
    ::CloseHandle(section);
    return report;
}

}  // namespace quarnel
