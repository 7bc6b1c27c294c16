// One provider update over HTTPS against the local provider emulator: the program's own client
// (the bare exchange, and the whole SendUpdateRequest with its settings and password reads) next
// to the curl command line doing the same request, and the ratios.
//
//   build/bench/update_request_bench [--benchmark_min_time=2]

#include <benchmark/benchmark.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "ddns/http_client.h"
#include "ddns/provider_update.h"
#include "platform/accounts.h"
#include "settings/protection.h"
#include "settings/registry.h"
#include "settings/schema.h"
#include "tests/fixtures/endpoint_overrides.h"
#include "tests/fixtures/provider_emulator.h"
#include "tests/support/test_support.h"

extern char** environ;

namespace {

quarnel::test::ProviderEmulator* emulator = nullptr;

std::string UpdateUrl() {
    return "https://127.0.0.1:" + std::to_string(emulator->HttpsPort()) +
           "/nic/update?hostname=bench.example.org&myip=203.0.113.5";
}

void BM_UpdateRequestProgramClient(benchmark::State& state) {
    const std::string url = UpdateUrl();
    for (auto _ : state) {
        // Not const: Google Benchmark 1.8 deprecates DoNotOptimize of a const value.
        std::string answer = quarnel::HttpRequestString(url, "GET", 0, "bench", "secret", "", "");
        if (answer.rfind("nochg", 0) != 0 && answer.rfind("good", 0) != 0) {
            state.SkipWithError(("unexpected answer: " + answer).c_str());
            break;
        }
        benchmark::DoNotOptimize(answer);
    }
}
BENCHMARK(BM_UpdateRequestProgramClient)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_SendUpdateRequest(benchmark::State& state) {
    for (auto _ : state) {
        std::string answer = quarnel::SendUpdateRequest("203.0.113.5");
        if (answer.rfind("nochg", 0) != 0 && answer.rfind("good", 0) != 0) {
            state.SkipWithError(("unexpected answer: " + answer).c_str());
            break;
        }
        benchmark::DoNotOptimize(answer);
    }
}
BENCHMARK(BM_SendUpdateRequest)->UseRealTime()->Unit(benchmark::kMillisecond);

// The settings SendUpdateRequest reads, in a private store.
bool StoreSettings() {
    using namespace quarnel;
    constexpr RegistryHive hive = RegistryHive::LocalMachine;
    return test::PointEndpointsAtEmulator(*emulator) &&
           CreateRegistryKey(hive, kSettingsKey) == 1 &&
           WriteRegistryString(hive, kSettingsKey, kValueUsername, "bench") == 1 &&
           WriteProtectedPassword(hive, kSettingsKey, kValuePassword, "secret",
                                  GetHardwareProfileId()) == 1 &&
           WriteRegistryString(hive, kSettingsKey, kValueHostname, "bench.example.org") == 1 &&
           WriteRegistryDword(hive, kSettingsKey, kValueService, 0) == 1;
}

void BM_UpdateRequestCurlCommandLine(benchmark::State& state) {
    std::vector<std::string> args = {"curl",   "-sS",          "--cacert", emulator->CaFile(),
                                     "-u",     "bench:secret", "-o",       "/dev/null",
                                     "--fail", UpdateUrl()};
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    for (auto _ : state) {
        pid_t pid = -1;
        if (posix_spawnp(&pid, "curl", nullptr, nullptr, argv.data(), environ) != 0) {
            state.SkipWithError("cannot start curl");
            break;
        }
        int status = 0;
        waitpid(pid, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("curl failed");
            break;
        }
    }
}
BENCHMARK(BM_UpdateRequestCurlCommandLine)->UseRealTime()->Unit(benchmark::kMillisecond);

// Google Benchmark 1.8 replaced a run's error_occurred flag (1.7, Debian 12) by its skipped state
// (Debian 13 has 1.9).
template <typename Run>
bool RunFailed(const Run& run) {
    if constexpr (requires { run.skipped; })
        return run.skipped != 0;
    else
        return run.error_occurred;
}

// Keeps the mean real time per iteration of each benchmark for the closing comparison.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration && !RunFailed(run)) {
                // Names carry suffixes such as "/real_time"; the function name is the key.
                const std::string name = run.benchmark_name();
                times[name.substr(0, name.find('/'))] = run.GetAdjustedRealTime();
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> times;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    quarnel::test::ProviderEmulator running;
    quarnel::test::ProviderEmulator::Options options;

    options.commands = {"/admin/account?user=bench&password=secret",
                        "/admin/host?name=bench.example.org&user=bench"};
    if (!running.Start(options)) {
        std::fprintf(stderr, "update_request_bench: the provider emulator did not start\n");
        return 1;
    }
    emulator = &running;
    setenv("SSL_CERT_FILE", running.CaFile().c_str(), 1);
    setenv("no_proxy", "*", 1);
    // The exchanges run in the helper built beside the program (unless one is named).
    setenv("QUARNEL_HELPER", QUARNEL_BUILT_HELPER, 0);
    quarnel::test::TemporaryFolder root;
    setenv("QUARNEL_ROOT", root.Path().c_str(), 1);
    if (!StoreSettings()) {
        std::fprintf(stderr, "update_request_bench: cannot write the settings\n");
        return 1;
    }

    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const auto curl = reporter.times.find("BM_UpdateRequestCurlCommandLine");
    for (const char* name : {"BM_UpdateRequestProgramClient", "BM_SendUpdateRequest"}) {
        const auto own = reporter.times.find(name);
        if (own != reporter.times.end() && curl != reporter.times.end() && own->second > 0) {
            std::printf("%s %.3f ms, curl command line %.3f ms: curl takes %.2f times as long\n",
                        name, own->second, curl->second, curl->second / own->second);
        }
    }
    running.Stop();
    benchmark::Shutdown();
    return 0;
}
