#include "platform/wait.h"

#include <gtest/gtest.h>

#include <thread>

namespace quarnel {
namespace {

TEST(Wait, SemaphoreCountsReleasesAndEachWaitTakesOne) {
    WaitHandle semaphore = CreateSemaphoreHandle(1);
    ASSERT_TRUE(semaphore);
    EXPECT_EQ(WaitForHandles(&semaphore, 1, 0, false), kWaitObject0);
    EXPECT_EQ(WaitForHandles(&semaphore, 1, 0, false), kWaitTimeout);
    ASSERT_TRUE(ReleaseSemaphoreHandle(semaphore, 3));
    EXPECT_TRUE(TryTakeSemaphoreHandle(semaphore));
    EXPECT_EQ(WaitForHandles(&semaphore, 1, 0, false), kWaitObject0);
    EXPECT_EQ(WaitForHandles(&semaphore, 1, 0, false), kWaitObject0);
    EXPECT_FALSE(TryTakeSemaphoreHandle(semaphore));
}

TEST(Wait, ReturnsTheIndexOfTheHandleThatFired) {
    WaitHandle handles[3] = {CreateSemaphoreHandle(0), CreateSemaphoreHandle(0),
                             CreateSemaphoreHandle(0)};
    std::thread releaser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ReleaseSemaphoreHandle(handles[2]);
    });
    EXPECT_EQ(WaitForHandles(handles, 3, 5000, false), 2u);
    releaser.join();
}

TEST(Wait, WaitAllNeedsEveryHandle) {
    WaitHandle handles[2] = {CreateSemaphoreHandle(1), CreateSemaphoreHandle(0)};
    EXPECT_EQ(WaitForHandles(handles, 2, 30, true), kWaitTimeout);
    ReleaseSemaphoreHandle(handles[1]);
    ReleaseSemaphoreHandle(handles[0]);
    EXPECT_EQ(WaitForHandles(handles, 2, 1000, true), kWaitObject0);
}

TEST(Wait, EmptySlotTooManyHandlesAndClosedHandlesFailAtOnce) {
    WaitHandle handles[2] = {CreateSemaphoreHandle(0), nullptr};
    EXPECT_EQ(WaitForHandles(handles, 2, kWaitInfinite, false), kWaitFailed);
    EXPECT_EQ(WaitForHandles(handles, kMaximumWaitHandles + 1, 0, false), kWaitFailed);
    EXPECT_EQ(CloseWaitHandle(handles[0]), 0);
    EXPECT_FALSE(handles[0]);
    EXPECT_EQ(CloseWaitHandle(handles[0]), 0);
    EXPECT_EQ(WaitForHandles(handles, 1, 0, false), kWaitFailed);
    EXPECT_FALSE(ReleaseSemaphoreHandle(handles[0]));
}

TEST(Wait, TwoWaitersShareOneReleaseWithoutBothWaking) {
    WaitHandle semaphore = CreateSemaphoreHandle(0);
    std::atomic<int> woken{0};
    auto waiter = [&] {
        if (WaitForHandles(&semaphore, 1, 300, false) == kWaitObject0) {
            ++woken;
        }
    };
    std::thread first(waiter);
    std::thread second(waiter);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    ReleaseSemaphoreHandle(semaphore);
    first.join();
    second.join();
    EXPECT_EQ(woken.load(), 1);
}

}  // namespace
}  // namespace quarnel
