// Measures the running service against the provider emulator inside a private network namespace
// (needs root) and prints a table:
//   - start of the process to the first update request arriving at the emulator;
//   - reaction time: a new interface address (with a new public address behind it) to the
//     update request arriving at the emulator;
//   - CPU time and context switches of the idle service over a minute;
//   - memory from /proc/<pid>/smaps_rollup after the first update and again after the idle
//     minute: resident (Rss); private dirty (Private_Dirty: the pages this process wrote, heap
//     and the relocated data of its libraries; the "private" figure the target is for);
//     private in all (Private_Clean + Private_Dirty, which also counts the program's and the
//     libraries' code that no other process happens to map);
//   - the TLS and crypto libraries (libcurl, libssl, libgnutls, libcrypto) the service maps.
// Usage: QUARNEL_PROGRAM=build/quarnel-updater service_bench [idle seconds, default 60]
//        [reaction samples, default 15]

#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "bench/service_bench_support.h"
#include "tests/libraries/adapter/network_test_support.h"
#include "tests/support/test_support.h"

namespace {

using namespace quarnel;
using Clock = std::chrono::system_clock;

double NowMs() {
    return std::chrono::duration<double, std::milli>(Clock::now().time_since_epoch()).count();
}

// The emulator's "time" field (UTC, millisecond precision) as milliseconds since the epoch.
double RecordTimeMs(const std::string& line) {
    const std::size_t at = line.find("\"time\":\"");
    if (at == std::string::npos) {
        return 0;
    }
    std::tm fields{};
    int millis = 0;
    if (std::sscanf(line.c_str() + at + 8, "%d-%d-%dT%d:%d:%d.%dZ", &fields.tm_year, &fields.tm_mon,
                    &fields.tm_mday, &fields.tm_hour, &fields.tm_min, &fields.tm_sec,
                    &millis) != 7) {
        return 0;
    }
    fields.tm_year -= 1900;
    fields.tm_mon -= 1;
    return static_cast<double>(::timegm(&fields)) * 1000.0 + millis;
}

// Arrival time of the first update request that carries text, or 0 while there is none.
double UpdateArrival(const test::ProviderEmulator& emulator, const std::string& text) {
    for (const std::string& line : emulator.Requests()) {
        if (line.find("/nic/update") != std::string::npos && line.find(text) != std::string::npos) {
            return RecordTimeMs(line);
        }
    }
    return 0;
}

double WaitForUpdate(const test::ProviderEmulator& emulator, const std::string& text) {
    for (int i = 0; i < 2000; ++i) {
        const double arrival = UpdateArrival(emulator, text);
        if (arrival > 0) {
            return arrival;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return 0;
}

struct ProcessUse {
    double cpuMs = 0;
    long switches = 0;
};

ProcessUse ReadProcessUse(pid_t pid) {
    ProcessUse use;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::vector<std::string> values;
    for (std::string value; fields >> value;) {
        values.push_back(value);
    }
    if (values.size() > 12) {
        const double ticks = std::stod(values[11]) + std::stod(values[12]);  // utime + stime
        use.cpuMs = ticks * 1000.0 / static_cast<double>(::sysconf(_SC_CLK_TCK));
    }
    for (const auto& task :
         std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task")) {
        std::ifstream status(task.path() / "status");
        for (std::string line; std::getline(status, line);) {
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0 ||
                line.rfind("nonvoluntary_ctxt_switches:", 0) == 0) {
                use.switches += std::stol(line.substr(line.find(':') + 1));
            }
        }
    }
    return use;
}

// What the benchmark prints from /proc/<pid>/smaps_rollup (kilobytes) and /proc/<pid>/maps.
struct MemoryUse {
    long rss = -1;
    long privateClean = -1;
    long privateDirty = -1;
    std::string tlsLibraries;  // the mapped files among them, or "none"
};

long RollupKilobytes(const std::string& text, const std::string& field) {
    const std::size_t at = text.find("\n" + field + ":");
    return at == std::string::npos ? -1 : std::atol(text.c_str() + at + field.size() + 2);
}

MemoryUse ReadMemoryUse(pid_t pid) {
    const std::string folder = "/proc/" + std::to_string(pid);
    std::ifstream rollup(folder + "/smaps_rollup");
    const std::string text = "\n" + std::string((std::istreambuf_iterator<char>(rollup)),
                                                std::istreambuf_iterator<char>());
    MemoryUse use;
    use.rss = RollupKilobytes(text, "Rss");
    use.privateClean = RollupKilobytes(text, "Private_Clean");
    use.privateDirty = RollupKilobytes(text, "Private_Dirty");
    std::set<std::string> libraries;
    std::ifstream maps(folder + "/maps");
    for (std::string line; std::getline(maps, line);) {
        const std::size_t slash = line.rfind('/');
        const std::string name = slash == std::string::npos ? "" : line.substr(slash + 1);
        for (const char* prefix : {"libcurl", "libssl", "libgnutls", "libcrypto"}) {
            if (name.rfind(prefix, 0) == 0) {
                libraries.insert(name);
            }
        }
    }
    use.tlsLibraries = libraries.empty() ? "none" : "";
    for (const std::string& library : libraries) {
        use.tlsLibraries += (use.tlsLibraries.empty() ? "" : ", ") + library;
    }
    return use;
}

int Threads(pid_t pid) {
    int count = 0;
    for ([[maybe_unused]] const auto& task :
         std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task")) {
        ++count;
    }
    return count;
}

}  // namespace

int main(int argc, char** argv) {
    const int idleSeconds = argc > 1 ? std::atoi(argv[1]) : 60;
    const int samples = argc > 2 ? std::atoi(argv[2]) : 15;
    std::string reason;
    if (!test::EnterPrivateNetwork("quarnel-bench", "", reason)) {
        std::printf("service_bench: skipped: %s\n", reason.c_str());
        return 0;
    }
    const test::TemporaryFolder root;
    ::setenv("QUARNEL_ROOT", root.Path().c_str(), 1);
    // The password is protected by the helper built beside the program (unless one is named).
    ::setenv("QUARNEL_HELPER", QUARNEL_BUILT_HELPER, 0);
    const char* program = std::getenv("QUARNEL_PROGRAM");
    if (program == nullptr) {
        std::printf("service_bench: set QUARNEL_PROGRAM to the quarnel-updater program\n");
        return 1;
    }

    test::ProviderEmulator emulator;
    if (!bench::StartEmulator(emulator, "203.0.113.1") || !bench::WriteServiceSettings(emulator)) {
        std::printf("service_bench: the provider emulator did not start\n");
        return 1;
    }

    test::ChildProcess service;
    const double started = NowMs();
    if (!bench::StartService(service, program, root.Path(), emulator)) {
        std::printf("service_bench: the service did not start\n");
        return 1;
    }
    const double firstUpdate = WaitForUpdate(emulator, "myip=203.0.113.1");
    // Once the cycle has stored its outcome and the service waits again.
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const MemoryUse afterUpdate = ReadMemoryUse(service.Pid());

    const std::string veth = test::UniqueName("qbv");
    test::AddVethPair(veth, test::UniqueName("qbp"), "198.51.100.2/24");
    std::vector<double> reactions;
    for (int i = 0; i < samples; ++i) {
        // Past the hold-back that keeps a storm of changes from running a cycle each.
        std::this_thread::sleep_for(std::chrono::milliseconds(2300));
        const std::string address = "203.0.113." + std::to_string(10 + i);
        emulator.Admin("/admin/echo?text=" + address);
        const double changed = NowMs();
        test::RunIp(
            {"address", "add", "198.51.100." + std::to_string(10 + i) + "/24", "dev", veth});
        const double arrival = WaitForUpdate(emulator, "myip=" + address);
        if (arrival > 0) {
            reactions.push_back(arrival - changed);
        }
    }
    std::sort(reactions.begin(), reactions.end());

    std::this_thread::sleep_for(std::chrono::seconds(3));
    const ProcessUse before = ReadProcessUse(service.Pid());
    std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
    const ProcessUse after = ReadProcessUse(service.Pid());
    const MemoryUse idle = ReadMemoryUse(service.Pid());
    const int threads = Threads(service.Pid());

    service.Signal(SIGTERM);
    const int exitCode = service.Wait(10000);
    emulator.Stop();

    const auto median = [&] { return reactions.empty() ? 0.0 : reactions[reactions.size() / 2]; };
    std::printf("| Measurement | Value | Target |\n|---|---|---|\n");
    std::printf("| Start to first update request | %.1f ms | under 100 ms |\n",
                firstUpdate > 0 ? firstUpdate - started : -1.0);
    std::printf("| Address change to update request, median of %zu | %.1f ms | under 50 ms |\n",
                reactions.size(), median());
    std::printf("| Address change to update request, min / max | %.1f / %.1f ms | |\n",
                reactions.empty() ? 0.0 : reactions.front(),
                reactions.empty() ? 0.0 : reactions.back());
    std::printf("| CPU time while idle, per minute | %.2f ms | under 1 ms |\n",
                (after.cpuMs - before.cpuMs) * 60.0 / idleSeconds);
    std::printf("| Context switches while idle, per minute | %.1f | armed timers only |\n",
                static_cast<double>(after.switches - before.switches) * 60.0 / idleSeconds);
    const auto megabytes = [](long kilobytes) { return kilobytes / 1024.0; };
    for (const auto& [when, use] :
         {std::pair<const char*, const MemoryUse&>{"after the first update", afterUpdate},
          {"idle", idle}}) {
        std::printf("| Resident (Rss), %s | %.2f MB | at most 6 MB |\n", when, megabytes(use.rss));
        std::printf("| Private_Dirty, %s | %.2f MB | at most 1 MB |\n", when,
                    megabytes(use.privateDirty));
        std::printf("| Private_Clean + Private_Dirty, %s | %.2f MB | |\n", when,
                    megabytes(use.privateClean + use.privateDirty));
        std::printf("| TLS and crypto libraries mapped, %s | %s | none |\n", when,
                    use.tlsLibraries.c_str());
    }
    std::printf("| Threads, idle | %d | |\n", threads);
    std::printf("| Exit code after SIGTERM | %d | 0 |\n", exitCode);
    return 0;
}
