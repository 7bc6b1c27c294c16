// The registry store: reading one value, writing one value durably, and how long a watcher
// takes to wake up after another process writes into the watched key.

#include <benchmark/benchmark.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "settings/registry.h"
#include "settings/registry_watch.h"

namespace {

using namespace quarnel;

constexpr RegistryHive kMachine = RegistryHive::LocalMachine;
constexpr const char* kKey = "SOFTWARE\\Quarnel Updater\\Settings";

struct StoreSetup {
    StoreSetup() {
        char pattern[] = "/var/tmp/quarnel-bench-XXXXXX";  // on disk: fsync has real work
        root = ::mkdtemp(pattern);
        ::setenv("QUARNEL_ROOT", root.c_str(), 1);
        CreateRegistryKey(kMachine, kKey);
        WriteRegistryDword(kMachine, kKey, "Interval", 5);
        WriteRegistryString(kMachine, kKey, "Hostname", "bench.example");
    }
    ~StoreSetup() { std::filesystem::remove_all(root); }
    std::string root;
};

StoreSetup& Setup() {
    static StoreSetup setup;
    return setup;
}

std::int64_t MonotonicNanoseconds() {
    struct timespec now = {};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

void ReadOneValue(benchmark::State& state) {
    Setup();
    for (auto _ : state) {
        benchmark::DoNotOptimize(ReadRegistryDword(kMachine, kKey, "Interval"));
    }
}
BENCHMARK(ReadOneValue);

void WriteOneValueDurably(benchmark::State& state) {
    Setup();
    std::int64_t value = 0;
    for (auto _ : state) {
        if (WriteRegistryDword(kMachine, kKey, "Interval", ++value) != 1) {
            state.SkipWithError("write failed");
            break;
        }
    }
}
BENCHMARK(WriteOneValueDurably);

// A second process writes on request and reports the moment it started; the time counted is
// from that moment until WaitForHandles returns in this process.
void WakeUpAfterAWriteInAnotherProcess(benchmark::State& state) {
    Setup();
    int request[2];
    int report[2];
    if (::pipe(request) != 0 || ::pipe(report) != 0) {
        state.SkipWithError("pipe failed");
        return;
    }
    const pid_t writer = ::fork();
    if (writer == 0) {
        ::close(request[1]);
        ::close(report[0]);
        char byte = 0;
        std::int64_t value = 0;
        while (::read(request[0], &byte, 1) == 1) {
            const std::int64_t started = MonotonicNanoseconds();
            WriteRegistryDword(kMachine, kKey, "Time", ++value);
            if (::write(report[1], &started, sizeof started) != sizeof started) {
                break;
            }
        }
        ::_exit(0);
    }
    ::close(request[0]);
    ::close(report[1]);
    WaitHandle handle = RegistryChangeEvent(kMachine, kKey, false, "", -1);
    for (auto _ : state) {
        const char byte = 1;
        std::int64_t started = 0;
        if (::write(request[1], &byte, 1) != 1 ||
            WaitForHandles(&handle, 1, 10000, false) != kWaitObject0) {
            state.SkipWithError("no wake-up");
            break;
        }
        const std::int64_t woke = MonotonicNanoseconds();
        if (::read(report[0], &started, sizeof started) != sizeof started) {
            state.SkipWithError("writer gone");
            break;
        }
        state.SetIterationTime(static_cast<double>(woke - started) / 1e9);
    }
    ::close(request[1]);
    ::close(report[0]);
    ::waitpid(writer, nullptr, 0);
}
BENCHMARK(WakeUpAfterAWriteInAnotherProcess)->UseManualTime();

}  // namespace

BENCHMARK_MAIN();
