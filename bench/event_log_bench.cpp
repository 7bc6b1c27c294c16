// The cost of the event log: appending one record to a nearly full log (the file is read whole
// under its lock and the record synced to disk), and building the history of a full log.

#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <filesystem>
#include <string>

#include "diagnostics/event_log.h"
#include "diagnostics/event_log_store.h"

namespace {

using namespace quarnel;

struct EventLogSetup {
    EventLogSetup() {
        char pattern[] = "/tmp/quarnel-bench-XXXXXX";
        root = ::mkdtemp(pattern);
        ::setenv("QUARNEL_ROOT", root.c_str(), 1);
        path = EventLogFilePath("Application");
    }
    ~EventLogSetup() { std::filesystem::remove_all(root); }

    // Fills the log with records until it holds about `bytes`.
    void Fill(std::size_t bytes) {
        std::filesystem::remove(path);
        EventRecordFields fields;
        fields.sourceName = "Quarnel Updater";
        fields.computerName = "host";
        fields.eventId = kEventRecordIdInformation;
        fields.eventType = kEventRecordTypeInformation;
        fields.strings = {"good 198.51.100.7"};
        while (!std::filesystem::exists(path) || std::filesystem::file_size(path) < bytes) {
            AppendEventRecord(path, fields, kEventLogMaximumBytes);
        }
    }
    std::string root;
    std::string path;
};

void AppendToAlmostFullLog(benchmark::State& state) {
    EventLogSetup setup;
    setup.Fill(kEventLogMaximumBytes / 2);
    EventRecordFields fields;
    fields.sourceName = "Quarnel Updater";
    fields.eventId = kEventRecordIdInformation;
    fields.strings = {"nochg 198.51.100.7"};
    for (auto _ : state) {
        benchmark::DoNotOptimize(AppendEventRecord(setup.path, fields, kEventLogMaximumBytes));
    }
}
BENCHMARK(AppendToAlmostFullLog)->Unit(benchmark::kMicrosecond);

void HistoryOfAFullLog(benchmark::State& state) {
    EventLogSetup setup;
    setup.Fill(kEventLogMaximumBytes - 4096);
    for (auto _ : state) {
        benchmark::DoNotOptimize(ReadEventLogHistory("Application", "Quarnel Updater"));
    }
}
BENCHMARK(HistoryOfAFullLog)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
