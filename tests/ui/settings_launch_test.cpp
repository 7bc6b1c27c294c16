#include "startup/settings_launch.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "platform/global_handles.h"

namespace quarnel {
namespace {

// As root the program runs directly; anyone else would be asked for a password by pkexec.
#define SKIP_UNLESS_ROOT()                                                        \
    if (::geteuid() != 0) {                                                       \
        GTEST_SKIP() << "needs root: without it RunElevated goes through pkexec"; \
    }

TEST(RunElevated, WithoutCallbackWaitsAndGivesTheExitCode) {
    SKIP_UNLESS_ROOT();
    const struct {
        const char* script;
        std::int64_t exitCode;
    } cases[] = {{"exit 0", 0}, {"exit 3", 3}, {"pwd | grep -qx /tmp", 0}};
    for (const auto& c : cases) {
        EXPECT_EQ(RunElevated("/bin/sh", {"-c", c.script}, "/tmp", nullptr), c.exitCode)
            << c.script;
    }
    EXPECT_EQ(RunElevated("/nonexistent/program", {}, "/", nullptr), 0);
}

TEST(RunElevated, CallbackRunsWithTheHandleOnceTheProgramEnds) {
    SKIP_UNLESS_ROOT();
    std::mutex lock;
    std::condition_variable ended;
    int endedHandle = -2;
    const std::int64_t handle = RunElevated("/bin/sh", {"-c", "exit 0"}, "/", [&](int h) {
        const std::lock_guard<std::mutex> guard(lock);
        endedHandle = h;
        ended.notify_all();
    });
    ASSERT_GE(handle, 0);
    std::unique_lock<std::mutex> guard(lock);
    ASSERT_TRUE(ended.wait_for(guard, std::chrono::seconds(10), [&] { return endedHandle != -2; }));
    EXPECT_EQ(endedHandle, handle);
}

TEST(SettingProcessEnded, ForgetsOnlyTheRecordedProcess) {
    globalHandles.settingProcess.store(41);
    SettingProcessEnded(40);
    EXPECT_EQ(globalHandles.settingProcess.load(), 41);
    SettingProcessEnded(41);
    EXPECT_EQ(globalHandles.settingProcess.load(), -1);
}

}  // namespace
}  // namespace quarnel
