#include "ui/systray_watch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
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

    bool WaitForResults(std::size_t count, std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> guard(lock_);
        return arrived_.wait_for(guard, timeout, [&] { return results_.size() >= count; });
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

TEST_F(SystrayWatchTest, WithoutTheServiceKeyTheThreadEndsAtOnce) {
    StartWatch();
    watch_.join();
    EXPECT_TRUE(ended_);
    EXPECT_TRUE(results_.empty());
}

TEST_F(SystrayWatchTest, EveryRecordedResultIsDeliveredWithAllItsValues) {
    ASSERT_EQ(CreateRegistryKey(kHive, kServiceKey), 1);
    StartWatch();
    // The watch is armed once the thread runs; a first change may come before, so write until
    // one result has arrived (bounded).
    bool arrived = false;
    for (int i = 0; i < 50 && !arrived; ++i) {
        WriteRegistryDword(kHive, kServiceKey, kValueTime, 1'700'000'000);
        WriteRegistryDword(kHive, kServiceKey, kValueLimit, 1);
        WriteRegistryString(kHive, kServiceKey, kValueResult, "nochg 203.0.113.5");
        WriteRegistryDword(kHive, kServiceKey, kValueEventId, kEventRecordIdInformation);
        arrived = WaitForResults(1, std::chrono::milliseconds(200));
    }
    ASSERT_TRUE(arrived);
    const std::lock_guard<std::mutex> guard(lock_);
    EXPECT_EQ(results_.back().result, "nochg 203.0.113.5");
    EXPECT_EQ(results_.back().limit, 1);
    EXPECT_EQ(results_.back().time, 1'700'000'000);
    EXPECT_EQ(results_.back().eventId, kEventRecordIdInformation);
}

TEST_F(SystrayWatchTest, RemovedServiceKeyEndsTheWatchInsteadOfReadingEmptyValues) {
    ASSERT_EQ(CreateRegistryKey(kHive, kServiceKey), 1);
    StartWatch();
    // The watch may be armed after the removal; then the key is missing at its start. Either
    // way the thread ends by itself, with nothing delivered.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(registry_store::DeleteKey(kHive, kServiceKey));
    for (int i = 0; i < 200 && !ended_; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    EXPECT_TRUE(ended_);
    const std::lock_guard<std::mutex> guard(lock_);
    EXPECT_TRUE(results_.empty());
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
