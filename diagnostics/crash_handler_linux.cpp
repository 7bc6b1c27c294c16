#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <system_error>

#include "diagnostics/crash_handler.h"
#include "diagnostics/crash_report.h"
#include "diagnostics/log.h"
#include "platform/unique_fd.h"

extern char** environ;

namespace quarnel {
namespace {

constexpr int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP};
constexpr std::size_t kAlternateStackSize = 64 * 1024;
constexpr std::size_t kPathCapacity = 4096;

// Everything the handler touches is prepared here at install time.
alignas(16) char alternateStack[kAlternateStackSize];
char programPath[kPathCapacity];
// The report goes to a memory file made at install time: private to the process, nothing on
// disk until the reporter keeps a copy. Its descriptor's number, as the reporter's argument.
int reportFile = -1;
char reportFileArgument[24];
char reportText[8192];
std::atomic<int> reportKind{static_cast<int>(CrashReportKind::Send)};
// The thread that is handling a fault, or 0.
std::atomic<long> handlingThread{0};

void FillDetails(int signal, const siginfo_t* info, const void* context, CrashDetails& details) {
    const auto faultAddress = reinterpret_cast<std::uint64_t>(info->si_addr);
    std::uint64_t stackPointer = 0;
    details.codeAddress = faultAddress;
#if defined(__x86_64__)
    const auto* registers = static_cast<const ucontext_t*>(context)->uc_mcontext.gregs;
    constexpr int kOrder[kCrashRegisterCount] = {
        REG_RAX, REG_RBX, REG_RCX, REG_RDX, REG_RBP, REG_RSI, REG_RDI, REG_RSP, REG_R8,
        REG_R9,  REG_R10, REG_R11, REG_R12, REG_R13, REG_R14, REG_R15, REG_EFL};
    for (int i = 0; i < kCrashRegisterCount; ++i) {
        details.registers[i] = static_cast<std::uint64_t>(registers[kOrder[i]]);
    }
    details.registersKnown = true;
    stackPointer = static_cast<std::uint64_t>(registers[REG_RSP]);
    details.codeAddress = static_cast<std::uint64_t>(registers[REG_RIP]);
    // A breakpoint instruction reports the address after it; the fault is the instruction.
    if (signal == SIGTRAP && info->si_code != TRAP_TRACE && details.codeAddress != 0) {
        details.codeAddress -= 1;
    }
#else
    (void)context;
#endif
    details.code = CrashExceptionCode(signal, info->si_code, faultAddress, stackPointer);
    details.targetAddress = faultAddress;
}

void WriteAll(int fd, const char* data, std::size_t length) {
    while (length > 0) {
        const ssize_t written = write(fd, data, length);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return;
        }
        data += written;
        length -= static_cast<std::size_t>(written);
    }
}

void RestoreDefaultActions() {
    for (const int signal : kFaultSignals) {
        struct sigaction action = {};
        action.sa_handler = SIG_DFL;
        sigaction(signal, &action, nullptr);
    }
}

// Starts the reporter and waits for it.
void RunReporter(CrashReportKind kind) {
    // The plain system call, not fork(): that runs the fork handlers of the C library, which take
    // locks (the allocator's among them) that the faulting thread may hold.
    const auto child = static_cast<pid_t>(syscall(SYS_clone, SIGCHLD, 0, 0, 0, 0));
    if (child == 0) {
        RestoreDefaultActions();
        fcntl(reportFile, F_SETFD, 0);  // the reporter reads the report from it
        char reportSwitch[] = "--crash-report";
        char* arguments[] = {programPath, reportSwitch, reportFileArgument,
                             const_cast<char*>(CrashReportKindName(kind)), nullptr};
        char selfPath[] = "/proc/self/exe";
        execve(selfPath, arguments, environ);
        execve(programPath, arguments, environ);
        _exit(127);
    }
    if (child < 0) {
        return;
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
}

void FaultHandler(int signal, siginfo_t* info, void* context) {
    const long thread = syscall(SYS_gettid);
    long expected = 0;
    if (!handlingThread.compare_exchange_strong(expected, thread)) {
        if (expected == thread) {
            // A fault while handling one: nothing more can be trusted here.
            RestoreDefaultActions();
            raise(signal);
            _exit(128 + signal);
        }
        // Another thread reports; the process ends when it is done.
        for (;;) {
            pause();
        }
    }
    const int savedErrno = errno;
    CrashDetails details;
    FillDetails(signal, info, context, details);
    const std::size_t length = FormatCrashReport(details, reportText, sizeof reportText);
    if (ftruncate(reportFile, 0) == 0 && lseek(reportFile, 0, SEEK_SET) == 0) {
        WriteAll(reportFile, reportText, length);
        RunReporter(static_cast<CrashReportKind>(reportKind.load()));
    }
    errno = savedErrno;
    _exit(static_cast<CrashReportKind>(reportKind.load()) == CrashReportKind::Service ? 128 + signal
                                                                                      : 0);
}

}  // namespace

bool InstallCrashHandler() {
    const ssize_t resolvedLength = readlink("/proc/self/exe", programPath, kPathCapacity - 1);
    if (resolvedLength <= 0) {
        QLOG(kLogError, "", "Crash handler not installed: the program's path is unknown");
        return false;
    }
    programPath[resolvedLength] = '\0';
    if (reportFile < 0) {
        reportFile = memfd_create("quarnel-crash-report", MFD_CLOEXEC);
    }
    if (reportFile < 0) {
        QLOG(kLogError, "", "Crash handler not installed: no memory file for the report");
        return false;
    }
    reportFileArgument[FormatUnsigned(static_cast<std::uint64_t>(reportFile), reportFileArgument)] =
        '\0';

    stack_t stack{};
    stack.ss_sp = alternateStack;
    stack.ss_size = sizeof alternateStack;
    if (sigaltstack(&stack, nullptr) != 0) {
        return false;
    }
    for (const int signal : kFaultSignals) {
        struct sigaction action = {};
        action.sa_sigaction = FaultHandler;
        action.sa_flags = SA_SIGINFO | SA_ONSTACK;
        sigemptyset(&action.sa_mask);
        if (sigaction(signal, &action, nullptr) != 0) {
            return false;
        }
    }
    return true;
}

void SetCrashReportKind(CrashReportKind kind) {
    reportKind.store(static_cast<int>(kind));
}

CrashReportKind GetCrashReportKind() {
    return static_cast<CrashReportKind>(reportKind.load());
}

std::optional<std::string> ReadCrashReportFile(const std::string& fdText) {
    int fd = -1;
    const auto [end, error] = std::from_chars(fdText.data(), fdText.data() + fdText.size(), fd);
    if (error != std::errc() || end != fdText.data() + fdText.size() || fd < 0) {
        return std::nullopt;
    }
    UniqueFd file(fd);
    std::string report;
    char buffer[4096];
    for (off_t offset = 0;;) {
        const ssize_t count = pread(file.Get(), buffer, sizeof buffer, offset);
        if (count < 0) {
            return std::nullopt;
        }
        if (count == 0) {
            return report;
        }
        report.append(buffer, static_cast<std::size_t>(count));
        offset += count;
    }
}

}  // namespace quarnel
