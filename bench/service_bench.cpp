// Measures the running service against the provider emulator inside a private network namespace
// (needs root) and prints a table:
//   - start of the process to the first update request arriving at the emulator;
//   - reaction time: a new interface address (with a new public address behind it) to the
//     update request arriving at the emulator;
//   - the same for IPv6 (the program being measured only; the earlier one has no IPv6): with the
//     IPv6 setting on, a prefix change on the interface (the global address removed, one of a new
//     prefix added) to the request that carries the new address;
//   - CPU time and context switches of the idle service over a minute;
//   - memory from /proc/<pid>/smaps_rollup after the first update and again after the idle
//     minute: resident (Rss); private dirty (Private_Dirty: the pages this process wrote, heap
//     and the relocated data of its libraries; the "private" figure the target is for);
//     private in all (Private_Clean + Private_Dirty, which also counts the program's and the
//     libraries' code that no other process happens to map);
//   - the TLS and crypto libraries (libcurl, libssl, libgnutls, libcrypto) the service maps;
//   - the helper processes the service starts per reaction (its children, sampled every 2 ms:
//     each helper lives for its start at least, about 10 ms).
// With QUARNEL_PROGRAM_BEFORE (another build's program, its helper beside it) the same run
// measures that one first and prints both columns beside the targets.
// Usage: QUARNEL_PROGRAM=build/quarnel-updater [QUARNEL_PROGRAM_BEFORE=/work/main/build/
//        quarnel-updater] service_bench [idle seconds, default 60] [reaction samples, default 15]

#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdarg>
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
#include <system_error>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "bench/service_bench_support.h"
#include "settings/registry.h"
#include "settings/schema.h"
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

// Collects the pids of pid's children while it lives.
class ChildWatch {
  public:
    explicit ChildWatch(pid_t pid)
        : thread_([this, pid] {
              while (!done_) {
                  std::error_code error;
                  for (const auto& task : std::filesystem::directory_iterator(
                           "/proc/" + std::to_string(pid) + "/task", error)) {
                      std::ifstream children(task.path() / "children");
                      for (pid_t child; children >> child;) {
                          seen_.insert(child);
                      }
                  }
                  std::this_thread::sleep_for(std::chrono::milliseconds(2));
              }
          }) {}
    ~ChildWatch() { Stop(); }
    std::size_t Stop() {
        done_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
        return seen_.size();
    }

  private:
    std::atomic<bool> done_{false};
    std::set<pid_t> seen_;
    std::thread thread_;
};

int Threads(pid_t pid) {
    int count = 0;
    for ([[maybe_unused]] const auto& task :
         std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task")) {
        ++count;
    }
    return count;
}

struct Figures {
    double firstUpdate = -1;
    std::vector<double> reactions;
    std::vector<double> reactions6;
    double helpersPerCycle = -1;
    double idleCpuMs = 0;
    double idleSwitches = 0;
    MemoryUse afterUpdate;
    MemoryUse idle;
    int threads = 0;
    int exitCode = -1;
    double Median() const { return reactions.empty() ? 0.0 : reactions[reactions.size() / 2]; }
    double Median6() const { return reactions6.empty() ? 0.0 : reactions6[reactions6.size() / 2]; }
};

// One service run against the emulator: start, samples reactions, an idle time, then its stop.
// With IPv6 on, prefix changes on veth, each to the request that carries the new address.
void MeasureIPv6Reactions(test::ChildProcess& service, const test::ProviderEmulator& emulator,
                          const std::string& root, const std::string& veth, int samples,
                          Figures& figures) {
    const RegistryHive hive = RegistryHive::LocalMachine;
    const auto prefix = [](int n) { return "2001:db8:" + std::to_string(n) + "::10"; };
    test::RunIp({"address", "add", prefix(1) + "/64", "dev", veth, "nodad"});
    WriteRegistryDword(hive, kSettingsKey, kValueIPv6, 1);
    WriteTimeStamp(hive, kSettingsKey, kValueTime, CurrentTimeStamp() + 1);
    service.Signal(SIGHUP);  // control 128: the new settings
    WaitForUpdate(emulator, "," + prefix(1));
    const std::string batch = root + "/prefix-change";
    for (int i = 1; i <= samples; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2300));
        std::ofstream(batch, std::ios::trunc)
            << "address del " << prefix(i) << "/64 dev " << veth << "\n"
            << "address add " << prefix(i + 1) << "/64 dev " << veth << " nodad\n";
        const double changed = NowMs();
        test::RunIp({"-batch", batch});
        const double arrival = WaitForUpdate(emulator, "," + prefix(i + 1));
        if (arrival > 0) {
            figures.reactions6.push_back(arrival - changed);
        }
    }
    std::sort(figures.reactions6.begin(), figures.reactions6.end());
    test::RunIp({"address", "del", prefix(samples + 1) + "/64", "dev", veth});
    DeleteRegistryValue(hive, kSettingsKey, kValueIPv6);
}

bool Measure(const std::string& program, const std::string& helper, const std::string& root,
             test::ProviderEmulator& emulator, const std::string& veth, int offset, int idleSeconds,
             int samples, bool ipv6, Figures& figures) {
    emulator.Admin("/admin/reset");
    emulator.Admin("/admin/account?user=alice&password=s3cret");
    emulator.Admin("/admin/host?name=home.example.org&user=alice");
    emulator.Admin("/admin/dns?name=probe.test&answer=A:198.51.100.1");
    const std::string first = "203.0.113." + std::to_string(offset);
    emulator.Admin("/admin/echo?text=" + first);
    if (!bench::WriteServiceSettings(emulator)) {
        return false;
    }
    test::ChildProcess service;
    const double started = NowMs();
    if (!service.Start(program, {"/service"},
                       {{"QUARNEL_ROOT", root},
                        {"SSL_CERT_FILE", emulator.CaFile()},
                        {"QUARNEL_HELPER", helper}})) {
        return false;
    }
    const double firstUpdate = WaitForUpdate(emulator, "myip=" + first);
    figures.firstUpdate = firstUpdate > 0 ? firstUpdate - started : -1;
    // Once the cycle has stored its outcome and the service waits again.
    std::this_thread::sleep_for(std::chrono::seconds(1));
    figures.afterUpdate = ReadMemoryUse(service.Pid());

    ChildWatch helpers(service.Pid());
    for (int i = 0; i < samples; ++i) {
        // Past the hold-back that keeps a storm of changes from running a cycle each.
        std::this_thread::sleep_for(std::chrono::milliseconds(2300));
        const std::string address = "203.0.113." + std::to_string(offset + 1 + i);
        emulator.Admin("/admin/echo?text=" + address);
        const double changed = NowMs();
        test::RunIp({"address", "add", "198.51.100." + std::to_string(offset + 1 + i) + "/24",
                     "dev", veth});
        const double arrival = WaitForUpdate(emulator, "myip=" + address);
        if (arrival > 0) {
            figures.reactions.push_back(arrival - changed);
        }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    figures.helpersPerCycle = samples > 0 ? static_cast<double>(helpers.Stop()) / samples : -1.0;
    std::sort(figures.reactions.begin(), figures.reactions.end());
    if (ipv6) {
        MeasureIPv6Reactions(service, emulator, root, veth, samples, figures);
    }

    std::this_thread::sleep_for(std::chrono::seconds(3));
    const ProcessUse before = ReadProcessUse(service.Pid());
    std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
    const ProcessUse after = ReadProcessUse(service.Pid());
    figures.idle = ReadMemoryUse(service.Pid());
    figures.threads = Threads(service.Pid());
    figures.idleCpuMs = (after.cpuMs - before.cpuMs) * 60.0 / idleSeconds;
    figures.idleSwitches =
        static_cast<double>(after.switches - before.switches) * 60.0 / idleSeconds;
    service.Signal(SIGTERM);
    figures.exitCode = service.Wait(10000);
    return true;
}

__attribute__((format(printf, 1, 2))) std::string format(const char* pattern, ...) {
    char text[160];
    va_list values;
    va_start(values, pattern);
    std::vsnprintf(text, sizeof text, pattern, values);
    va_end(values);
    return text;
}

std::string Beside(const std::string& folderOf, const char* name) {
    return folderOf.substr(0, folderOf.rfind('/') + 1) + name;
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
    const char* previous = std::getenv("QUARNEL_PROGRAM_BEFORE");

    test::ProviderEmulator emulator;
    if (!bench::StartEmulator(emulator, "203.0.113.1")) {
        std::printf("service_bench: the provider emulator did not start\n");
        return 1;
    }
    const std::string veth = test::UniqueName("qbv");
    test::AddVethPair(veth, test::UniqueName("qbp"), "198.51.100.2/24");
    test::RunIp({"-6", "route", "add", "default", "via", "fe80::1", "dev", veth});

    Figures before;
    Figures after;
    const bool compare = previous != nullptr && *previous != '\0';
    if (compare && !Measure(previous, Beside(previous, "quarnel-updater-helper"), root.Path(),
                            emulator, veth, 100, idleSeconds, samples, false, before)) {
        std::printf("service_bench: the earlier service did not start\n");
        return 1;
    }
    if (!Measure(program, std::getenv("QUARNEL_HELPER"), root.Path(), emulator, veth, 10,
                 idleSeconds, samples, true, after)) {
        std::printf("service_bench: the service did not start\n");
        return 1;
    }
    emulator.Stop();

    const auto row = [&](const char* measurement, const std::string& was, const std::string& is,
                         const char* target) {
        if (compare) {
            std::printf("| %s | %s | %s | %s |\n", measurement, was.c_str(), is.c_str(), target);
        } else {
            std::printf("| %s | %s | %s |\n", measurement, is.c_str(), target);
        }
    };
    std::printf(compare ? "| Measurement | Before | After | Target |\n|---|---|---|---|\n"
                        : "| Measurement | Value | Target |\n|---|---|---|\n");
    row("Start to first update request", format("%.1f ms", before.firstUpdate),
        format("%.1f ms", after.firstUpdate), "at most 25 ms");
    row(format("Address change to update request, median of %zu", after.reactions.size()).c_str(),
        format("%.1f ms", before.Median()), format("%.1f ms", after.Median()), "at most 15 ms");
    const auto range = [&](const Figures& f) {
        return f.reactions.empty()
                   ? std::string("-")
                   : format("%.1f / %.1f ms", f.reactions.front(), f.reactions.back());
    };
    row("Address change to update request, min / max", range(before), range(after), "");
    const auto median6 = [&](const Figures& f) {
        return f.reactions6.empty() ? std::string("-") : format("%.1f ms", f.Median6());
    };
    const auto range6 = [&](const Figures& f) {
        return f.reactions6.empty()
                   ? std::string("-")
                   : format("%.1f / %.1f ms", f.reactions6.front(), f.reactions6.back());
    };
    row(format("IPv6 prefix change to update request, median of %zu", after.reactions6.size())
            .c_str(),
        median6(before), median6(after), "as for IPv4");
    row("IPv6 prefix change to update request, min / max", range6(before), range6(after), "");
    row("Helper processes started per cycle", format("%.1f", before.helpersPerCycle),
        format("%.1f", after.helpersPerCycle), "1");
    row("CPU time while idle, per minute", format("%.2f ms", before.idleCpuMs),
        format("%.2f ms", after.idleCpuMs), "0 ms");
    row("Context switches while idle, per minute", format("%.1f", before.idleSwitches),
        format("%.1f", after.idleSwitches), "0");
    const auto megabytes = [](long kilobytes) { return kilobytes / 1024.0; };
    for (const auto& [when, was, is] :
         {std::tuple<const char*, const MemoryUse&, const MemoryUse&>{
              "after the first update", before.afterUpdate, after.afterUpdate},
          {"idle", before.idle, after.idle}}) {
        row(format("Resident (Rss), %s", when).c_str(), format("%.2f MB", megabytes(was.rss)),
            format("%.2f MB", megabytes(is.rss)), "at most 6.0 MB");
        row(format("Private_Dirty, %s", when).c_str(),
            format("%.2f MB", megabytes(was.privateDirty)),
            format("%.2f MB", megabytes(is.privateDirty)), "at most 0.6 MB");
        row(format("Private_Clean + Private_Dirty, %s", when).c_str(),
            format("%.2f MB", megabytes(was.privateClean + was.privateDirty)),
            format("%.2f MB", megabytes(is.privateClean + is.privateDirty)), "");
        row(format("TLS and crypto libraries mapped, %s", when).c_str(), was.tlsLibraries,
            is.tlsLibraries, "none");
    }
    row("Threads, idle", format("%d", before.threads), format("%d", after.threads), "");
    row("Exit code after SIGTERM", format("%d", before.exitCode), format("%d", after.exitCode),
        "0");
    return 0;
}
