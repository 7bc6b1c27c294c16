#include "service/change_watcher.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <iostream>
#include <memory>
#include <thread>

#include "platform/global_handles.h"
#include "platform/network_change.h"

namespace quarnel {
namespace {

// Counts what is pending on a semaphore, taking it all.
int Drain(const WaitHandle& semaphore) {
    int count = 0;
    while (TryTakeSemaphoreHandle(semaphore)) {
        ++count;
    }
    return count;
}

// Each watched source is a semaphore the test releases; the watcher receives an extra reference
// through a duplicate descriptor so the test keeps its own handle.
class ChangeWatcherTest : public ::testing::Test {
  protected:
    ChangeWatcherTest() {
        globalHandles.wakeSemaphore = CreateSemaphoreHandle(0);
        stop = CreateManualEventHandle();
        for (auto& source : sources) {
            source = CreateSemaphoreHandle(0);
        }
    }
    ~ChangeWatcherTest() override { globalHandles.wakeSemaphore.reset(); }

    WaitHandle Borrow(int index) {
        if (missing == index) {
            return nullptr;
        }
        // A semaphore sharing the counter of the test's own: releasing one satisfies the other.
        return ShareSemaphoreHandle(sources[index]);
    }

    ChangeSources Sources() {
        ChangeSources s;
        s.networkConfigurationAvailable = [this] { return configurationAvailable; };
        s.networkConfigurationChange = [this] { return Borrow(0); };
        s.timer = [this](std::int64_t ms) {
            timerMilliseconds = ms;
            return Borrow(1);
        };
        s.addressChange = [this](bool) { return Borrow(2); };
        s.routeChange = [this](bool) { return Borrow(3); };
        return s;
    }

    std::thread Start(ChangeWatch watch) {
        watch.stop = &stop;
        done = false;
        return std::thread([this, watch] {
            ThreadServiceWait(watch, Sources());
            done = true;
        });
    }

    WaitHandle sources[4];
    WaitHandle stop;
    bool configurationAvailable = true;
    int missing = -1;
    std::int64_t timerMilliseconds = 0;
    std::atomic<bool> done{false};
};

TEST_F(ChangeWatcherTest, EachSourceWakesTheWorkerExactlyOnceFoldingPendingReleases) {
    for (int slot = 0; slot < 4; ++slot) {
        ReleaseSemaphoreHandle(globalHandles.wakeSemaphore, 3);
        std::thread watcher = Start({600, {}, nullptr});
        ReleaseSemaphoreHandle(sources[slot]);
        watcher.join();
        EXPECT_EQ(Drain(globalHandles.wakeSemaphore), 1) << "slot " << slot;
        EXPECT_EQ(timerMilliseconds, 600000);
    }
}

TEST_F(ChangeWatcherTest, WithoutNetworkConfigurationTheTimerWakesTheWorkerAfterTheHoldBack) {
    configurationAvailable = false;
    const auto later = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
    std::thread watcher = Start({600, later, nullptr});
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(done.load());
    EXPECT_EQ(timerMilliseconds, 600000);
    ReleaseSemaphoreHandle(sources[1]);
    watcher.join();
    EXPECT_GE(std::chrono::steady_clock::now(), later);
    EXPECT_EQ(Drain(globalHandles.wakeSemaphore), 1);

    // The stop still ends it, without a wake-up.
    std::thread stopped = Start({600, {}, nullptr});
    SetEventHandle(stop);
    stopped.join();
    EXPECT_EQ(Drain(globalHandles.wakeSemaphore), 0);
}

TEST_F(ChangeWatcherTest, ABrokenChangeSourceDoesNotSpin) {
    // Watchers started back to back, as the worker does after each cycle, while no netlink socket
    // can be made; the real timer and a hold-back of 200 ms per cycle.
    configurationAvailable = false;
    ChangeSources real = Sources();
    real.timer = [](std::int64_t ms) { return CreateOneShotTimerHandle(ms); };
    constexpr auto kRun = std::chrono::milliseconds(1000);
    const auto start = std::chrono::steady_clock::now();
    int cycles = 0;
    while (std::chrono::steady_clock::now() - start < kRun && cycles < 100000) {
        ChangeWatch watch{1, std::chrono::steady_clock::now() + std::chrono::milliseconds(200),
                          &stop};
        ThreadServiceWait(watch, real);
        cycles += Drain(globalHandles.wakeSemaphore);
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::cout << "cycles per second with broken netlink: " << cycles / seconds << std::endl;
    EXPECT_LE(cycles, 5);
}

TEST_F(ChangeWatcherTest, StoppingEndsTheWatcherWithoutWakingTheWorker) {
    std::thread watcher = Start({600, {}, nullptr});
    SetEventHandle(stop);
    watcher.join();
    EXPECT_EQ(Drain(globalHandles.wakeSemaphore), 0);
}

TEST_F(ChangeWatcherTest, AMissingSourceFallsBackToTheTimerInsteadOfWakingAtOnce) {
    missing = 3;
    std::thread watcher = Start({600, {}, nullptr});
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(done.load());
    EXPECT_EQ(Drain(globalHandles.wakeSemaphore), 0);
    ReleaseSemaphoreHandle(sources[2]);  // the sources that exist are still watched
    watcher.join();
    EXPECT_EQ(Drain(globalHandles.wakeSemaphore), 1);

    missing = 1;  // no timer either: the time-out still ends the wait
    std::thread untimed = Start({1, {}, nullptr});
    untimed.join();
    EXPECT_EQ(Drain(globalHandles.wakeSemaphore), 1);
}

TEST_F(ChangeWatcherTest, AChangeTooSoonAfterTheLastIsHeldBackButTheTimerIsNot) {
    const auto later = std::chrono::steady_clock::now() + std::chrono::milliseconds(400);
    std::thread watcher = Start({600, later, nullptr});
    ReleaseSemaphoreHandle(sources[2]);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(Drain(globalHandles.wakeSemaphore), 0);
    watcher.join();
    EXPECT_GE(std::chrono::steady_clock::now(), later);
    EXPECT_EQ(Drain(globalHandles.wakeSemaphore), 1);

    std::thread timed =
        Start({600, std::chrono::steady_clock::now() + std::chrono::hours(1), nullptr});
    ReleaseSemaphoreHandle(sources[1]);
    timed.join();
    EXPECT_EQ(Drain(globalHandles.wakeSemaphore), 1);
}

TEST_F(ChangeWatcherTest, StoppingWhileAChangeIsHeldBackEndsPromptly) {
    std::thread watcher =
        Start({600, std::chrono::steady_clock::now() + std::chrono::hours(1), nullptr});
    ReleaseSemaphoreHandle(sources[2]);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    SetEventHandle(stop);
    watcher.join();
    EXPECT_EQ(Drain(globalHandles.wakeSemaphore), 0);
}

}  // namespace
}  // namespace quarnel
