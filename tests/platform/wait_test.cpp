#include "platform/wait.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <thread>
#include <utility>

#include "platform/unique_fd.h"
#include "tests/support/child_process.h"

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

TEST(Wait, TimeOutEndsAWaitOnASourceThatStaysReadableWithoutFiring) {
    // A pipe whose writer is gone polls hung up for ever, and reading it finds nothing that
    // fires. The wait runs in a child so that a wait that never ends fails instead of hanging.
    const int result = test::RunInForkedChild(
        [] {
            int fds[2];
            if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
                return 2;
            }
            ::close(fds[1]);
            WaitHandle hungUp = std::make_unique<WaitEvent>(IntoHandle(UniqueFd(fds[0])));
            WaitHandle handles[2] = {std::move(hungUp), CreateSemaphoreHandle(0)};
            return WaitForHandles(handles, 2, 50, false) == kWaitTimeout &&
                           WaitForHandles(handles, 2, 50, true) == kWaitTimeout
                       ? 0
                       : 1;
        },
        std::nullopt, 10000);
    EXPECT_EQ(result, 0);
}

}  // namespace
}  // namespace quarnel
