#include "ui/systray_watch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "diagnostics/event_log.h"
#include "platform/registry_store.h"
#include "settings/registry.h"
#include "settings/schema.h"
#include "tests/support/test_support.h"

namespace quarnel {
namespace {

constexpr RegistryHive kHive = RegistryHive::LocalMachine;

class SystrayWatchTest : public testing::Test {
  protected:
    void SetUp() override {
        root_ = std::make_unique<test::TemporaryFolder>();
        rootEnvironment_ = std::make_unique<test::ScopedEnvironment>("QUARNEL_ROOT", root_->Path());
        stop_ = CreateManualEventHandle();
        ASSERT_TRUE(stop_);
    }

    void StartWatch() {
        watch_ = std::thread([this] {
            ThreadSystrayMain(*stop_, [this](const ServiceResult& result) {
                const std::lock_guard<std::mutex> guard(lock_);
                results_.push_back(result);
                arrived_.notify_all();
            });
            ended_ = true;
        });
    }

    // Waits for count results, or for count results with that answer.
    bool WaitForResults(std::size_t count, std::chrono::milliseconds timeout,
                        const char* answer = nullptr) {
        std::unique_lock<std::mutex> guard(lock_);
        return arrived_.wait_for(guard, timeout, [&] {
            return static_cast<std::size_t>(std::count_if(
                       results_.begin(), results_.end(), [answer](const ServiceResult& result) {
                           return answer == nullptr || result.result == answer;
                       })) >= count;
        });
    }

    std::size_t Delivered() {
        const std::lock_guard<std::mutex> guard(lock_);
        return results_.size();
    }

    // An attempt's values in the order the service writes them.
    static void WriteAttempt(std::int64_t time, const char* result) {
        WriteRegistryDword(kHive, kServiceKey, kValueAttemptTime, time);
        WriteRegistryString(kHive, kServiceKey, kValueAttemptResult, result);
        WriteRegistryDword(kHive, kServiceKey, kValueEventType, 1);
        WriteRegistryDword(kHive, kServiceKey, kValueEventId, kEventRecordIdError);
    }

    void TearDown() override {
        SetEventHandle(stop_);
        if (watch_.joinable()) {
            watch_.join();
        }
    }

    std::unique_ptr<test::TemporaryFolder> root_;
    std::unique_ptr<test::ScopedEnvironment> rootEnvironment_;
    WaitHandle stop_;
    std::thread watch_;
    std::mutex lock_;
    std::condition_variable arrived_;
    std::vector<ServiceResult> results_;
    std::atomic<bool> ended_{false};
};

TEST_F(SystrayWatchTest, EveryRecordedResultIsDeliveredWithAllItsValues) {
    ASSERT_EQ(CreateRegistryKey(kHive, kServiceKey), 1);
    StartWatch();
    // The watch is armed once the thread runs; a first change may come before, and then counts
    // as shown already, so write a new attempt until one result has arrived (bounded).
    bool arrived = false;
    std::int64_t time = 1'700'000'000;
    for (int i = 0; i < 50 && !arrived; ++i) {
        WriteRegistryDword(kHive, kServiceKey, kValueTime, ++time);
        WriteRegistryDword(kHive, kServiceKey, kValueLimit, 1);
        WriteRegistryString(kHive, kServiceKey, kValueResult, "nochg 203.0.113.5");
        WriteRegistryDword(kHive, kServiceKey, kValueEventId, kEventRecordIdInformation);
        arrived = WaitForResults(1, std::chrono::milliseconds(200));
    }
    ASSERT_TRUE(arrived);
    const std::lock_guard<std::mutex> guard(lock_);
    EXPECT_EQ(results_.back().result, "nochg 203.0.113.5");
    EXPECT_EQ(results_.back().limit, 1);
    EXPECT_GT(results_.back().time, 1'700'000'000);  // one of the attempts written
    EXPECT_LE(results_.back().time, time);
    EXPECT_EQ(results_.back().eventId, kEventRecordIdInformation);
}

// The user's first run: the tray starts before the service has written anything, before its key
// exists; the first result still arrives, and so does one after the key was removed and made
// again (the service reinstalled).
TEST_F(SystrayWatchTest, AServiceKeyThatAppearsLaterIsWatched) {
    ASSERT_EQ(CreateRegistryKey(kHive, kSettingsKey), 1);
    StartWatch();
    std::int64_t time = 1'700'000'000;
    for (const char* result : {"good 203.0.113.5", "nochg 203.0.113.5", "good 203.0.113.6"}) {
        SCOPED_TRACE(result);
        // Time for the watch to notice that the key is missing (on a slow machine it may notice
        // later, and the round passes without a missing key).
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        ASSERT_EQ(CreateRegistryKey(kHive, kServiceKey), 1);
        WriteAttempt(++time, result);
        ASSERT_TRUE(WaitForResults(1, std::chrono::seconds(20), result));
        ASSERT_TRUE(registry_store::DeleteKey(kHive, kServiceKey));
    }
    // Made again at once, without a moment for the watch: still watched.
    ASSERT_EQ(CreateRegistryKey(kHive, kServiceKey), 1);
    WriteAttempt(++time, "nochg 203.0.113.7");
    EXPECT_TRUE(WaitForResults(1, std::chrono::seconds(20), "nochg 203.0.113.7"));
    EXPECT_FALSE(ended_);
}

// Writes that arrive after the settle time give a second read of the same attempt: it is
// delivered once; the next attempt is delivered again.
TEST_F(SystrayWatchTest, EachAttemptIsDeliveredOnce) {
    ASSERT_EQ(CreateRegistryKey(kHive, kServiceKey), 1);
    StartWatch();
    // The watch is armed once the thread runs: write new attempts until one arrives.
    std::int64_t time = 1'700'000'000;
    bool arrived = false;
    for (int i = 0; i < 50 && !arrived; ++i) {
        WriteAttempt(++time, "!noanswer");
        arrived = WaitForResults(1, std::chrono::milliseconds(200));
    }
    ASSERT_TRUE(arrived);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));  // past the settle time
    const std::size_t delivered = Delivered();
    WriteRegistryDword(kHive, kServiceKey, kValueEventId, kEventRecordIdError);
    EXPECT_FALSE(WaitForResults(delivered + 1, std::chrono::milliseconds(500)));
    WriteAttempt(++time, "!noanswer");
    EXPECT_TRUE(WaitForResults(delivered + 1, std::chrono::seconds(20)));
}

TEST_F(SystrayWatchTest, StopEndsTheWaitingThread) {
    ASSERT_EQ(CreateRegistryKey(kHive, kServiceKey), 1);
    StartWatch();
    SetEventHandle(stop_);
    watch_.join();
    EXPECT_TRUE(ended_);
}

}  // namespace
}  // namespace quarnel
