// What a password read costs now that the cipher runs in the helper process: the whole read
// (the stored value, the key text's digest and the decipherment, two helper processes) against
// the same decipherment done in this process, and one identity digest through the helper.
//   build/bench/protection_bench  (the helper built beside the program unless QUARNEL_HELPER
//   names another, by its absolute path)

#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "ddns/identity_digests.h"
#include "helper/crypto_operations.h"
#include "platform/crypto_request.h"
#include "settings/protection.h"
#include "settings/registry.h"

namespace {

using namespace quarnel;

constexpr RegistryHive kMachine = RegistryHive::LocalMachine;
constexpr const char* kKey = "SOFTWARE\\Quarnel Updater\\Settings";
constexpr const char* kKeyMaterial = "{00112233-4455-6677-8899-AABBCCDDEEFF}";

struct StoreSetup {
    StoreSetup() {
        char pattern[] = "/tmp/quarnel-bench-XXXXXX";
        root = ::mkdtemp(pattern);
        ::setenv("QUARNEL_ROOT", root.c_str(), 1);
        ::setenv("QUARNEL_HELPER", QUARNEL_BUILT_HELPER, 0);
        CreateRegistryKey(kMachine, kKey);
        WriteProtectedPassword(kMachine, kKey, "Password", "s3cret-passw0rd", kKeyMaterial);
    }
    ~StoreSetup() { std::filesystem::remove_all(root); }
    std::string root;
};

StoreSetup& Setup() {
    static StoreSetup setup;
    return setup;
}

// CPU time (user and system) of the helpers that ended so far, in milliseconds: on a loaded
// machine the wall-clock time mostly measures the wait for a core.
double ChildrenCpuMilliseconds() {
    struct rusage usage = {};
    ::getrusage(RUSAGE_CHILDREN, &usage);
    const auto ms = [](const timeval& t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

void CountHelperCpu(benchmark::State& state, double before) {
    state.counters["helper_cpu_ms"] =
        benchmark::Counter(ChildrenCpuMilliseconds() - before, benchmark::Counter::kAvgIterations);
}

void ReadPasswordThroughTheHelper(benchmark::State& state) {
    Setup();
    const double before = ChildrenCpuMilliseconds();
    for (auto _ : state) {
        const std::string password =
            ReadProtectedPassword(kMachine, kKey, "Password", kKeyMaterial);
        if (password != "s3cret-passw0rd") {
            state.SkipWithError("the password did not read back (is QUARNEL_HELPER set?)");
            break;
        }
    }
    CountHelperCpu(state, before);
}
BENCHMARK(ReadPasswordThroughTheHelper)->Unit(benchmark::kMillisecond)->UseRealTime();

// The in-process cost the program paid before: the digest and the decipherment alone.
void DecryptInThisProcess(benchmark::State& state) {
    std::string request;
    AppendRequestField(request, std::string(kCipherKeyLength, 'k'));
    AppendRequestField(request, std::string(kCipherIvLength, 'i'));
    AppendRequestField(request, std::string(32, 'c'));
    for (auto _ : state) {
        benchmark::DoNotOptimize(RunCryptoOperation(HelperOperation::Md5, std::string(76, 'u')));
        benchmark::DoNotOptimize(RunCryptoOperation(HelperOperation::Decrypt, request));
    }
}
BENCHMARK(DecryptInThisProcess)->Unit(benchmark::kMicrosecond);

void IdentityDigestThroughTheHelper(benchmark::State& state) {
    Setup();
    const double before = ChildrenCpuMilliseconds();
    for (auto _ : state) {
        if (IdentityDigest(kKeyMaterial).size() != 40) {
            state.SkipWithError("no digest (is QUARNEL_HELPER set?)");
            break;
        }
    }
    CountHelperCpu(state, before);
}
BENCHMARK(IdentityDigestThroughTheHelper)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
