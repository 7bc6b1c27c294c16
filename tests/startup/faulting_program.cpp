// The program with a fault trigger, for the crash tests only: it is built beside the tests and
// never installed. The real program's main runs unchanged, except that
//   QUARNEL_TEST_FAULT=<fault>            faults on the main thread right after the start-up
//                                         steps, reporting as QUARNEL_TEST_FAULT_REPORT says
//                                         (send, window, service; send when unset);
//   QUARNEL_TEST_FAULT_IN_SERVICE=<fault> faults on a thread of its own once the process has
//                                         become the service process;
//   QUARNEL_TEST_FAULT_IN_WINDOW_MODE=<fault> the same once the process has become a tray,
//                                         settings or update process (its crash window shows);
//   QUARNEL_TEST_FAULT_IN_REPORTER=<fault> faults in the crash reporter before it reads the
//                                         report.
// A fault leaves no core file behind. The program is built with debug information, and beside the
// desktop module like the real program, so that its crash window can show.
// Faults: null-write, divide, illegal, breakpoint, stack-overflow, abort, and
// null-write-in-fork-lock: a null write while holding a lock that fork() handlers need, as a
// crash inside the allocator would.

#include <pthread.h>
#include <sys/resource.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <utility>

#include "diagnostics/crash_handler.h"
#include "startup/entry.h"

namespace {

// Deep enough to pass any stack limit; the depth only keeps the compiler from calling it endless.
[[gnu::noinline]] int Recurse(volatile char* previous, std::size_t depth) {
    volatile char frame[4096];
    frame[0] = previous != nullptr ? previous[0] : 1;
    if (depth == 0) {
        return frame[0];
    }
    return Recurse(frame, depth - 1) + frame[1];
}

pthread_mutex_t forkLock = PTHREAD_MUTEX_INITIALIZER;

// Each fault in a function of its own, so that the crash tests know the lines it spans. The
// instructions are written in assembly, so that the undefined-behaviour sanitizer does not stop
// them first.
[[gnu::noinline]] void NullWrite() {
    asm volatile("movl $1, (%0)" : : "r"(std::uintptr_t{0}) : "memory");
}

[[gnu::noinline]] int Divide() {
    int dividend = 1;
    int divisor = 0;
    asm volatile("cltd; idivl %2" : "+a"(dividend) : "d"(0), "r"(divisor));
    return dividend;
}

[[gnu::noinline]] void Illegal() {
    asm volatile("ud2");
}

[[gnu::noinline]] void Breakpoint() {
    asm volatile("int3");
}

void Fault(const std::string& kind) {
    if (kind == "null-write-in-fork-lock") {
        pthread_atfork([] { pthread_mutex_lock(&forkLock); },
                       [] { pthread_mutex_unlock(&forkLock); },
                       [] { pthread_mutex_unlock(&forkLock); });
        pthread_mutex_lock(&forkLock);
        NullWrite();
    } else if (kind == "null-write") {
        NullWrite();
    } else if (kind == "divide") {
        std::exit(Divide());
    } else if (kind == "illegal") {
        Illegal();
    } else if (kind == "breakpoint") {
        Breakpoint();
    } else if (kind == "stack-overflow") {
        std::exit(Recurse(nullptr, std::size_t{1} << 40));
    } else if (kind == "abort") {
        std::abort();
    }
    std::exit(99);  // an unknown fault
}

// Faults on a thread of its own once the process has chosen a mode whose crashes are reported
// as kind.
void FaultInMode(const std::string& fault, quarnel::CrashReportKind kind) {
    std::thread([fault, kind] {
        // At most a minute; the test stops the process before that.
        for (int i = 0; i < 6000; ++i) {
            if (quarnel::GetCrashReportKind() == kind) {
                Fault(fault);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }).detach();
}

}  // namespace

int main(int argc, char** argv) {
    const rlimit noCore{};
    setrlimit(RLIMIT_CORE, &noCore);
    if (const char* kind = std::getenv("QUARNEL_TEST_FAULT_IN_REPORTER");
        kind != nullptr && *kind != '\0' && argc >= 2 &&
        std::strcmp(argv[1], quarnel::kCrashReportSwitch) == 0) {
        Fault(kind);
    }
    if (const char* kind = std::getenv("QUARNEL_TEST_FAULT"); kind != nullptr && argc == 1) {
        quarnel::InitializeProcess();
        quarnel::CrashReportKind report = quarnel::CrashReportKind::Send;
        if (const char* name = std::getenv("QUARNEL_TEST_FAULT_REPORT")) {
            quarnel::ParseCrashReportKind(name, report);
        }
        quarnel::SetCrashReportKind(report);
        Fault(kind);
    }
    // Only this process faults, not the programs it starts (a tray's update check, the reporter).
    for (const auto& [name, kind] :
         {std::pair{"QUARNEL_TEST_FAULT_IN_SERVICE", quarnel::CrashReportKind::Service},
          std::pair{"QUARNEL_TEST_FAULT_IN_WINDOW_MODE", quarnel::CrashReportKind::Window}}) {
        if (const char* fault = std::getenv(name)) {
            FaultInMode(fault, kind);
            unsetenv(name);
        }
    }
    return quarnel::ProgramMain(argc, argv);
}
