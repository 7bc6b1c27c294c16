// The running service killed (SIGKILL) at a random moment of its first update cycle, again and
// again, against the provider emulator inside a private network namespace (needs root). Each
// start has a new public address to send, so each outcome is told apart by its answer. Counted:
// outcomes in the store whose history record is missing (lost to the history), and history
// records of attempts the store does not hold (harmless: the next start sends again).
// Usage: QUARNEL_PROGRAM=build/quarnel-updater build/bench/outcome_kill_bench [kills]

#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>

#include "bench/service_bench_support.h"
#include "diagnostics/event_log.h"
#include "settings/registry.h"
#include "settings/schema.h"
#include "tests/libraries/adapter/network_test_support.h"
#include "tests/support/test_support.h"

namespace {

using namespace quarnel;
using Clock = std::chrono::steady_clock;

bool InHistory(const std::string& answer) {
    for (const HistoryEntry& entry : ReadEventLogHistory("Application", "Quarnel Updater")) {
        if (entry.line.ends_with("] " + answer)) {
            return true;
        }
    }
    return false;
}

std::string StoredResult() {
    return ReadRegistryString(RegistryHive::LocalMachine, kServiceKey, kValueResult);
}

}  // namespace

int main(int argc, char** argv) {
    std::string reason;
    if (!test::EnterPrivateNetwork("quarnel-bench", "", reason)) {
        std::printf("outcome_kill_bench: skipped: %s\n", reason.c_str());
        return 0;
    }
    const char* program = std::getenv("QUARNEL_PROGRAM");
    if (program == nullptr) {
        std::printf("outcome_kill_bench: set QUARNEL_PROGRAM to the quarnel-updater program\n");
        return 1;
    }
    const int kills = argc > 1 ? std::atoi(argv[1]) : 100;
    test::ProviderEmulator emulator;
    if (kills <= 0 || kills > 250 || !bench::StartEmulator(emulator, "203.0.113.1")) {
        std::printf("outcome_kill_bench: kills must be 1..250 and the emulator must start\n");
        return 1;
    }
    const test::TemporaryFolder root;
    ::setenv("QUARNEL_ROOT", root.Path().c_str(), 1);
    if (!bench::WriteServiceSettings(emulator)) {
        return 1;
    }

    // One whole cycle, to learn how long one takes here.
    test::ChildProcess service;
    auto runUntil = [&](const std::string& answer, std::chrono::microseconds killAfter) {
        const Clock::time_point started = Clock::now();
        if (!bench::StartService(service, program, root.Path(), emulator)) {
            return -1.0;
        }
        double done = -1;
        if (killAfter.count() > 0) {
            std::this_thread::sleep_for(killAfter);
        } else {
            for (int i = 0; i < 6000 && done < 0; ++i) {  // 30 s at most
                if (StoredResult() == answer && InHistory(answer)) {
                    done =
                        std::chrono::duration<double, std::milli>(Clock::now() - started).count();
                } else {
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
            }
        }
        service.Signal(SIGKILL);
        service.Wait(10000);
        return done;
    };
    emulator.Admin("/admin/echo?text=203.0.113.1");
    const double cycle = runUntil("good 203.0.113.1", std::chrono::microseconds(0));
    if (cycle < 0) {
        std::printf("outcome_kill_bench: the first cycle did not finish\n");
        return 1;
    }

    std::random_device device;
    const unsigned seed = device();
    std::mt19937 generator(seed);
    // From the start to a little after the cycle's end, so that every step can be hit.
    std::uniform_int_distribution<long> moment(1, static_cast<long>(cycle * 1200));
    int lost = 0;
    int unknownToStore = 0;
    int completed = 0;
    for (int kill = 0; kill < kills; ++kill) {
        const std::string address = "203.0.113." + std::to_string(2 + kill);
        const std::string answer = "good " + address;
        emulator.Admin("/admin/echo?text=" + address);
        runUntil(answer, std::chrono::microseconds(moment(generator)));
        const bool stored = StoredResult() == answer;
        const bool recorded = InHistory(answer);
        lost += stored && !recorded ? 1 : 0;
        unknownToStore += recorded && !stored ? 1 : 0;
        completed += stored && recorded ? 1 : 0;
    }
    emulator.Stop();
    std::printf("cycle %.1f ms; %d kills at random moments of 0 to %.1f ms (seed %u)\n", cycle,
                kills, cycle * 1.2, seed);
    std::printf("outcomes in the store without their history record: %d\n", lost);
    std::printf("history records of attempts the store does not hold: %d\n", unknownToStore);
    std::printf("outcomes complete in both: %d\n", completed);
    return 0;
}
