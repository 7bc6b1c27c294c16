// Semaphores, events, timers and the waits over them.

#include <gtest/gtest.h>

#include "platform/network_change.h"
#include "platform/wait.h"

namespace quarnel {
namespace {

TEST(WaitWin, ASemaphoreGivesEachCountToOneWait) {
    WaitHandle semaphore = CreateSemaphoreHandle(2);
    ASSERT_TRUE(semaphore);
    EXPECT_EQ(WaitForHandles(&semaphore, 1, 0, false), kWaitObject0);
    EXPECT_TRUE(TryTakeSemaphoreHandle(semaphore));
    EXPECT_EQ(WaitForHandles(&semaphore, 1, 50, false), kWaitTimeout);
    // A release through a shared handle satisfies a wait on the first one.
    WaitHandle shared = ShareSemaphoreHandle(semaphore);
    ASSERT_TRUE(shared);
    EXPECT_TRUE(ReleaseSemaphoreHandle(shared));
    EXPECT_EQ(WaitForHandles(&semaphore, 1, 0, false), kWaitObject0);
    EXPECT_FALSE(TryTakeSemaphoreHandle(shared));
}

TEST(WaitWin, AManualEventSatisfiesEveryWaitUntilReset) {
    WaitHandle handles[2] = {CreateManualEventHandle(), CreateSemaphoreHandle(0)};
    ASSERT_TRUE(handles[0] && handles[1]);
    EXPECT_FALSE(IsEventHandleSet(handles[0]));
    ASSERT_TRUE(SetEventHandle(handles[0]));
    EXPECT_EQ(WaitForHandles(handles, 2, 0, false), kWaitObject0);
    EXPECT_EQ(WaitForHandles(handles, 2, 0, false), kWaitObject0);
    // All of them: the semaphore has no count yet.
    EXPECT_EQ(WaitForHandles(handles, 2, 50, true), kWaitTimeout);
    ASSERT_TRUE(ReleaseSemaphoreHandle(handles[1]));
    EXPECT_EQ(WaitForHandles(handles, 2, 1000, true), kWaitObject0);
    ASSERT_TRUE(ResetEventHandle(handles[0]));
    EXPECT_EQ(WaitForHandles(handles, 1, 0, false), kWaitTimeout);
    // Wrong kinds and empty slots fail.
    EXPECT_FALSE(SetEventHandle(handles[1]));
    EXPECT_FALSE(ReleaseSemaphoreHandle(handles[0]));
    WaitHandle empty[1];
    EXPECT_EQ(WaitForHandles(empty, 1, 0, false), kWaitFailed);
}

TEST(WaitWin, AOneShotTimerFiresOnceAfterItsTime) {
    WaitHandle timer = CreateOneShotTimerHandle(50);
    ASSERT_TRUE(timer);
    EXPECT_EQ(WaitForHandles(&timer, 1, 5000, false), kWaitObject0);
    EXPECT_EQ(WaitForHandles(&timer, 1, 200, false), kWaitTimeout);
}

// The notification requests are made (Wine never signals them: the service's reaction to a
// change is covered by the change watcher's test with injected sources).
TEST(WaitWin, AddressAndConfigurationWatchesCanBeRequested) {
    EXPECT_TRUE(IsNetworkConfigurationAvailable());
    EXPECT_TRUE(CreateNetworkChangeHandle(NetworkChangeKind::IPv4Address, -1));
    EXPECT_TRUE(CreateNetworkChangeHandle(NetworkChangeKind::Configuration, 1000));
}

}  // namespace
}  // namespace quarnel
