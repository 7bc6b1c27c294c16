// The running service against the provider emulator inside a private network namespace (needs
// root), once as it is and once while another user holds an exclusive flock on the
// world-readable event log: the time from the start to the stored outcome of the first update
// cycle, the records in the log after the stop, and the time a stop (SIGTERM) takes.
// Usage: QUARNEL_PROGRAM=build/quarnel-updater build/bench/event_log_lock_bench

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "bench/service_bench_support.h"
#include "diagnostics/event_log.h"
#include "diagnostics/event_log_store.h"
#include "settings/registry.h"
#include "settings/schema.h"
#include "tests/libraries/adapter/network_test_support.h"
#include "tests/support/test_support.h"

namespace {

using namespace quarnel;
using Clock = std::chrono::steady_clock;

double Since(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// A process of another user holding an exclusive flock on path until it is killed.
pid_t HoldLockAsNobody(const std::string& path) {
    int ready[2];
    if (::pipe(ready) != 0) {
        return -1;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(ready[0]);
        const int fd =
            test::BecomeUser(test::kNobodyUser) ? ::open(path.c_str(), O_RDONLY | O_CLOEXEC) : -1;
        const char state = fd >= 0 && ::flock(fd, LOCK_EX) == 0 ? '1' : '0';
        (void)!::write(ready[1], &state, 1);
        ::sleep(120);  // bounded; killed long before
        ::_exit(0);
    }
    ::close(ready[1]);
    char state = '0';
    const bool held = pid > 0 && ::read(ready[0], &state, 1) == 1 && state == '1';
    ::close(ready[0]);
    if (!held && pid > 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        return -1;
    }
    return pid;
}

std::size_t RecordCount() {
    return ReadEventLogHistory("Application", "Quarnel Updater").size();
}

bool RunOnce(test::ProviderEmulator& emulator, const char* program, bool locked) {
    const test::TemporaryFolder root;
    ::chmod(root.Path().c_str(), 0755);  // the other user must reach the log
    ::setenv("QUARNEL_ROOT", root.Path().c_str(), 1);
    if (!bench::WriteServiceSettings(emulator)) {
        return false;
    }
    // A log with one record, as after an earlier update.
    EventRecordFields fields;
    fields.sourceName = "Quarnel Updater";
    fields.eventId = kEventRecordIdInformation;
    fields.eventType = kEventRecordTypeInformation;
    fields.strings = {"good 203.0.113.1"};
    if (!AppendEventRecord(EventLogFilePath("Application"), fields, kEventLogMaximumBytes)) {
        return false;
    }
    const pid_t holder = locked ? HoldLockAsNobody(EventLogFilePath("Application")) : 0;
    if (holder < 0) {
        return false;
    }

    test::ChildProcess service;
    const Clock::time_point started = Clock::now();
    if (!bench::StartService(service, program, root.Path(), emulator)) {
        return false;
    }
    double cycle = -1;
    for (int i = 0; i < 6000 && cycle < 0; ++i) {  // 30 s at most
        if (!ReadRegistryString(RegistryHive::LocalMachine, kServiceKey, kValueResult).empty()) {
            cycle = Since(started);
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    const Clock::time_point stopping = Clock::now();
    service.Signal(SIGTERM);
    const int exitCode = service.Wait(30000);
    const double stop = Since(stopping);
    const std::size_t records = RecordCount();
    if (holder > 0) {
        ::kill(holder, SIGKILL);
        ::waitpid(holder, nullptr, 0);
    }
    std::printf("| %s | %.1f ms | %zu | %.1f ms (exit code %d) |\n",
                locked ? "another user holds a lock on the log" : "no lock on the log", cycle,
                records, stop, exitCode);
    return true;
}

}  // namespace

int main() {
    std::string reason;
    if (!test::EnterPrivateNetwork("quarnel-bench", "", reason)) {
        std::printf("event_log_lock_bench: skipped: %s\n", reason.c_str());
        return 0;
    }
    const char* program = std::getenv("QUARNEL_PROGRAM");
    if (program == nullptr) {
        std::printf("event_log_lock_bench: set QUARNEL_PROGRAM to the quarnel-updater program\n");
        return 1;
    }
    test::ProviderEmulator emulator;
    if (!bench::StartEmulator(emulator, "203.0.113.1")) {
        std::printf("event_log_lock_bench: the provider emulator did not start\n");
        return 1;
    }
    std::printf(
        "| Event log | Start to stored outcome | Records in the log after the stop | Stop |\n"
        "|---|---|---|---|\n");
    bool ran = true;
    for (const bool locked : {false, true, false, true}) {
        ran = RunOnce(emulator, program, locked) && ran;
    }
    emulator.Stop();
    return ran ? 0 : 1;
}
