#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "diagnostics/crash_handler.h"
#include "diagnostics/crash_report.h"
#include "diagnostics/log.h"
#include "platform/paths.h"

extern char** environ;

namespace quarnel {
namespace {

constexpr int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP};
constexpr std::size_t kAlternateStackSize = 64 * 1024;
constexpr std::size_t kPathCapacity = 4096;

// Everything the handler touches is prepared here at install time.
alignas(16) char alternateStack[kAlternateStackSize];
char reportFolder[kPathCapacity];
char programPath[kPathCapacity];
char reportPath[kPathCapacity];
char reportText[8192];
std::atomic<int> reportKind{static_cast<int>(CrashReportKind::Send)};
// The thread that is handling a fault, or 0.
std::atomic<long> handlingThread{0};

bool CopyText(const std::string& text, char* buffer) {
    if (text.size() + 1 > kPathCapacity) {
        return false;
    }
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return true;
}

// buffer = prefix + "crash-" + pid + ".txt".
void MakeReportPath(const char* folder, char* buffer) {
    std::size_t length = std::strlen(folder);
    std::memcpy(buffer, folder, length);
    const char name[] = "/crash-";
    std::memcpy(buffer + length, name, sizeof name - 1);
    length += sizeof name - 1;
    length += FormatUnsigned(static_cast<std::uint64_t>(getpid()), buffer + length);
    std::memcpy(buffer + length, ".txt", 5);
}

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
        struct sigaction action {};
        action.sa_handler = SIG_DFL;
        sigaction(signal, &action, nullptr);
    }
}

// Starts the reporter and waits for it.
void RunReporter(CrashReportKind kind) {
    const pid_t child = fork();
    if (child == 0) {
        RestoreDefaultActions();
        char reportSwitch[] = "--crash-report";
        char* arguments[] = {programPath, reportSwitch, reportPath,
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
    const int fd = open(reportPath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd >= 0) {
        WriteAll(fd, reportText, length);
        close(fd);
        RunReporter(static_cast<CrashReportKind>(reportKind.load()));
    }
    errno = savedErrno;
    _exit(static_cast<CrashReportKind>(reportKind.load()) == CrashReportKind::Service ? 128 + signal
                                                                                      : 0);
}

}  // namespace

bool InstallCrashHandler() {
    const std::string folder = DebugLogFolder() + "/crash";
    char resolved[kPathCapacity];
    const ssize_t resolvedLength = readlink("/proc/self/exe", resolved, sizeof resolved - 1);
    // Room for "/crash-<pid>.txt" after the folder.
    if (!CreateFolders(folder, 0700) || folder.size() + 32 > kPathCapacity ||
        !CopyText(folder, reportFolder) || resolvedLength <= 0) {
        QLOG(kLogError, "", "Crash handler not installed: no private crash folder");
        return false;
    }
    resolved[resolvedLength] = '\0';
    std::memcpy(programPath, resolved, static_cast<std::size_t>(resolvedLength) + 1);
    MakeReportPath(reportFolder, reportPath);

    stack_t stack{};
    stack.ss_sp = alternateStack;
    stack.ss_size = sizeof alternateStack;
    if (sigaltstack(&stack, nullptr) != 0) {
        return false;
    }
    for (const int signal : kFaultSignals) {
        struct sigaction action {};
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

const char* CrashReportKindName(CrashReportKind kind) {
    switch (kind) {
        case CrashReportKind::Window:
            return "window";
        case CrashReportKind::Service:
            return "service";
        case CrashReportKind::Send:
            break;
    }
    return "send";
}

bool ParseCrashReportKind(const std::string& name, CrashReportKind& kind) {
    for (const CrashReportKind candidate :
         {CrashReportKind::Send, CrashReportKind::Window, CrashReportKind::Service}) {
        if (name == CrashReportKindName(candidate)) {
            kind = candidate;
            return true;
        }
    }
    return false;
}

}  // namespace quarnel
