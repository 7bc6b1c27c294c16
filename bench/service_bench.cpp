// Measures the running service against the provider emulator inside a private network namespace
// (needs root) and prints a table:
//   - start of the process to the first update request arriving at the emulator;
//   - reaction time: a new interface address (with a new public address behind it) to the
//     update request arriving at the emulator;
//   - CPU time and context switches of the idle service over a minute;
//   - resident and private (anonymous) memory of the idle service.
// Usage: service_bench [idle seconds, default 60] [reaction samples, default 15]

#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "settings/identity.h"
#include "settings/protection.h"
#include "settings/registry.h"
#include "settings/schema.h"
#include "tests/fixtures/endpoint_overrides.h"
#include "tests/fixtures/provider_emulator.h"
#include "tests/libraries/adapter/network_test_support.h"
#include "tests/support/child_process.h"
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

long StatusKilobytes(pid_t pid, const std::string& field) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(field + ":", 0) == 0) {
            return std::stol(line.substr(field.size() + 1));
        }
    }
    return -1;
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
    test::ProviderEmulator::Options options;
    options.commands = {
        "/admin/account?user=alice&password=s3cret", "/admin/host?name=home.example.org&user=alice",
        "/admin/dns?name=probe.test&answer=A:198.51.100.1", "/admin/echo?text=203.0.113.1"};
    if (!emulator.Start(options) || !test::PointEndpointsAtEmulator(emulator) ||
        !test::SetEndpointOverride(Endpoint::ProbeHost, "probe.test")) {
        std::printf("service_bench: the provider emulator did not start\n");
        return 1;
    }
    const RegistryHive hive = RegistryHive::LocalMachine;
    CreateRegistryKey(hive, kSettingsKey);
    WriteRegistryString(hive, kSettingsKey, kValueUsername, "alice");
    if (WriteProtectedPassword(hive, kSettingsKey, kValuePassword, "s3cret",
                               GetHardwareProfileId()) != 1) {
        std::printf("service_bench: the password could not be stored (QUARNEL_HELPER?)\n");
        return 1;
    }
    WriteRegistryString(hive, kSettingsKey, kValueHostname, "home.example.org");
    WriteRegistryDword(hive, kSettingsKey, kValueInterval, 5);
    WriteTimeStamp(hive, kSettingsKey, kValueTime, CurrentTimeStamp());

    test::ChildProcess service;
    const double started = NowMs();
    if (!service.Start(program, {"/service"},
                       {{"QUARNEL_ROOT", root.Path()}, {"SSL_CERT_FILE", emulator.CaFile()}})) {
        std::printf("service_bench: the service did not start\n");
        return 1;
    }
    const double firstUpdate = WaitForUpdate(emulator, "myip=203.0.113.1");

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
    const long rss = StatusKilobytes(service.Pid(), "VmRSS");
    const long anonymous = StatusKilobytes(service.Pid(), "RssAnon");
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
    std::printf("| Resident set size, idle | %.1f MB | as low as the libraries allow |\n",
                rss / 1024.0);
    std::printf("| Private (anonymous) memory, idle | %.1f MB | under 2 MB |\n",
                anonymous / 1024.0);
    std::printf("| Threads, idle | %d | |\n", threads);
    std::printf("| Exit code after SIGTERM | %d | 0 |\n", exitCode);
    return 0;
}
