// The cost of the debug log: an entry the level filter drops, and a written entry to the file
// alone and to the file and the loopback port.

#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "diagnostics/log.h"

namespace {

using namespace quarnel;

struct LogSetup {
    LogSetup() {
        char pattern[] = "/tmp/quarnel-bench-XXXXXX";
        root = ::mkdtemp(pattern);
        ::setenv("QUARNEL_ROOT", root.c_str(), 1);
        ::setenv("XDG_STATE_HOME", "/state", 1);
        globalHandles.logLockCreated = true;
        for (int i = 0; i < 8; ++i) {
            globalHandles.logLevelNames[i] = LogLevelNames[i];
        }
    }
    ~LogSetup() { std::filesystem::remove_all(root); }
    std::string root;
};

LogSetup& Setup() {
    static LogSetup setup;
    return setup;
}

void FilteredOut(benchmark::State& state) {
    Setup();
    globalHandles.logLevel = kLogInfo;
    globalHandles.logPort = 0;
    for (auto _ : state) {
        QLOG(kLogTrace, "ThreadServiceMain", "Service running, waiting for semaphore signal");
    }
}
BENCHMARK(FilteredOut);

void WrittenToFile(benchmark::State& state) {
    Setup();
    globalHandles.logLevel = kLogTrace;
    globalHandles.logPort = 0;
    for (auto _ : state) {
        QLOG(kLogTrace, "ThreadServiceMain", "Service running, waiting for semaphore signal");
    }
}
BENCHMARK(WrittenToFile);

void WrittenToFileAndPort(benchmark::State& state) {
    Setup();
    globalHandles.logLevel = kLogTrace;
    globalHandles.logPort = 9;  // the discard port: datagrams go out, nobody needs to listen
    for (auto _ : state) {
        QLOG(kLogTrace, "ThreadServiceMain", "Service running, waiting for semaphore signal");
    }
}
BENCHMARK(WrittenToFileAndPort);

}  // namespace

BENCHMARK_MAIN();
