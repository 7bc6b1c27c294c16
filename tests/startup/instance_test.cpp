// Instance markers and messages between real processes, and the process helpers.

#include "startup/instance.h"

#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "platform/elevation.h"
#include "platform/instance.h"
#include "platform/process_control.h"
#include "tests/support/child_process.h"
#include "tests/support/test_support.h"

namespace quarnel {
namespace {

std::string HelperPath() {
    return test::TestProgramFolder() + "/instance_helper";
}

bool IsRoot() {
    return ::geteuid() == 0;
}

// Every test keeps its markers apart from every other test through a root of its own.
class Instance : public ::testing::Test {
  protected:
    test::TemporaryFolder root_;
    test::ScopedEnvironment rootVariable_{"QUARNEL_ROOT", root_.Path()};
    test::ScopedEnvironment sudo_{"SUDO_UID", std::nullopt};
    test::ScopedEnvironment pkexec_{"PKEXEC_UID", std::nullopt};

    std::map<std::string, std::string> Environment() const {
        return {{"QUARNEL_ROOT", root_.Path()}};
    }
    // Starts a helper holding mode's marker and waits until it does.
    void Hold(test::ChildProcess& child, const std::string& mode,
              std::optional<uid_t> user = std::nullopt) {
        ASSERT_TRUE(child.Start(HelperPath(), {mode}, Environment(), user));
        ASSERT_TRUE(child.WaitForLine("running=0")) << child.Output();
    }
};

TEST_F(Instance, ASecondMarkerOfTheSameModeIsSeenOnlyInTheSameRoot) {
    test::ChildProcess first;
    Hold(first, "systray");
    EXPECT_EQ(IsInstanceRunning(SystrayInstanceGuid), 1);
    EXPECT_EQ(IsInstanceRunning(SettingInstanceGuid), 0);  // another mode has a marker of its own

    test::ChildProcess second;
    ASSERT_TRUE(second.Start(HelperPath(), {"systray"}, Environment()));
    EXPECT_TRUE(second.WaitForLine("running=1")) << second.Output();
    EXPECT_EQ(second.Wait(), 0);

    test::TemporaryFolder otherRoot;
    const test::ScopedEnvironment other("QUARNEL_ROOT", otherRoot.Path());
    EXPECT_EQ(IsInstanceRunning(SystrayInstanceGuid), 0);
}

TEST_F(Instance, TheMarkerVanishesWithItsProcessHoweverItEnds) {
    test::ChildProcess holder;
    Hold(holder, "update");
    holder.Signal(SIGKILL);
    EXPECT_EQ(holder.Wait(), -1);
    EXPECT_EQ(IsInstanceRunning(UpdateInstanceGuid), 0);
    // This process holds it now; asking again finds itself.
    EXPECT_EQ(IsInstanceRunning(UpdateInstanceGuid), 1);
}

TEST_F(Instance, PerUserMarkersAreApartWhileTheServiceMarkerIsMachineWide) {
    if (!IsRoot()) {
        GTEST_SKIP() << "switching users needs root";
    }
    test::ChildProcess tray;
    Hold(tray, "systray");
    test::ChildProcess service;
    Hold(service, "service");
    EXPECT_EQ(test::RunInForkedChild([] { return IsInstanceRunning(SystrayInstanceGuid); },
                                     test::kNobodyUser),
              0);
    EXPECT_EQ(test::RunInForkedChild([] { return IsInstanceRunning(ServiceInstanceGuid); },
                                     test::kNobodyUser),
              1);
}

TEST_F(Instance, BroadcastReachesTheUsersProcessesAndCodesFromOtherUsersAreRefused) {
    test::ChildProcess tray;
    Hold(tray, "systray");
    test::ChildProcess setting;
    Hold(setting, "setting");

    if (IsRoot()) {
        // Abstract names carry no permissions: anyone can address the endpoint, so the receiver
        // must look at who sent it.
        const std::string trayName =
            InstanceEndpointName(GuidToString(SystrayInstanceGuid), ::geteuid());
        EXPECT_EQ(test::RunInForkedChild(
                      [&trayName] {
                          const UniqueFd sender = CreateInstanceSender();
                          return SendInstanceCode(sender.Get(), trayName, InstanceCodeQuit) ? 1 : 0;
                      },
                      test::kNobodyUser),
                  1);
    }
    EXPECT_EQ(BroadcastInstanceMessage(InstanceCodeShow), 1);
    // Datagrams arrive in order: had the other user's quit been taken, the tray would be gone.
    EXPECT_TRUE(tray.WaitForLine("code=2")) << tray.Output();
    EXPECT_EQ(tray.Output().find("code=1"), std::string::npos);
    EXPECT_TRUE(setting.WaitForLine("code=2")) << setting.Output();

    EXPECT_EQ(BroadcastInstanceMessage(InstanceCodeQuit), 1);
    EXPECT_TRUE(tray.WaitForLine("code=1")) << tray.Output();
    EXPECT_TRUE(setting.WaitForLine("code=1")) << setting.Output();
    EXPECT_EQ(tray.Wait(), 0);
    EXPECT_EQ(setting.Wait(), 0);
}

TEST_F(Instance, RootStartedThroughSudoAlsoReachesTheInvokingUser) {
    if (!IsRoot()) {
        GTEST_SKIP() << "switching users needs root";
    }
    test::ChildProcess userTray;
    Hold(userTray, "systray", test::kNobodyUser);
    EXPECT_EQ(IsInstanceRunning(SystrayInstanceGuid), 0);  // root's own marker is another one
    {
        const test::ScopedEnvironment sudo("SUDO_UID", std::to_string(test::kNobodyUser));
        EXPECT_EQ(InvokingUserId(), test::kNobodyUser);
        EXPECT_EQ(BroadcastInstanceMessage(InstanceCodeQuit), 1);
    }
    EXPECT_TRUE(userTray.WaitForLine("code=1")) << userTray.Output();
}

TEST_F(Instance, QuitSwitchClosesTrayAndSettingAndSucceedsWithNobodyListening) {
    auto result = test::RunProgram({"/quit"}, Environment());
    EXPECT_EQ(result.exitCode, 1) << result.output;

    test::ChildProcess tray;
    Hold(tray, "systray");
    test::ChildProcess setting;
    Hold(setting, "setting");
    result = test::RunProgram({"/QUIT"}, Environment());
    EXPECT_EQ(result.exitCode, 1) << result.output;
    EXPECT_EQ(tray.Wait(), 0);
    EXPECT_EQ(setting.Wait(), 0);
    EXPECT_NE(tray.Output().find("code=1"), std::string::npos);
}

TEST_F(Instance, InvokingUserComesFromSudoThenPkexecOnlyForRoot) {
    const uid_t self = ::geteuid();
    {
        const test::ScopedEnvironment pkexec("PKEXEC_UID", "1234");
        const test::ScopedEnvironment sudo("SUDO_UID", "4321");
        EXPECT_EQ(InvokingUserId(), IsRoot() ? 4321u : self);
    }
    {
        const test::ScopedEnvironment pkexec("PKEXEC_UID", "1234");
        EXPECT_EQ(InvokingUserId(), IsRoot() ? 1234u : self);
    }
    for (const char* bad : {"", "12a", "-5", "99999999999", "4294967295"}) {
        const test::ScopedEnvironment sudo("SUDO_UID", std::string(bad));
        EXPECT_EQ(InvokingUserId(), self) << bad;
    }
}

TEST(ProcessHelpers, ParentProcessIdIsReadEvenThroughAnAwkwardName) {
    EXPECT_EQ(GetParentProcessId(static_cast<std::uint32_t>(::getpid())),
              static_cast<std::uint32_t>(::getppid()));
    const std::uint32_t self = static_cast<std::uint32_t>(::getpid());
    // A name with blanks and parentheses must not shift the fields after it.
    EXPECT_EQ(test::RunInForkedChild([self] {
                  ::prctl(PR_SET_NAME, "a) 7 (b) 9");
                  return GetParentProcessId(static_cast<std::uint32_t>(::getpid())) == self ? 0 : 1;
              }),
              0);
    EXPECT_EQ(GetParentProcessId(0), 0u);
    EXPECT_EQ(GetParentProcessId(0x7FFFFFF0), 0u);
}

TEST(ProcessHelpers, ProcessWaitFiresWhenTheProcessEndsAndStaysFired) {
    test::ChildProcess child;
    ASSERT_TRUE(child.Start("/bin/sleep", {"30"}));
    WaitHandle handle = OpenProcessForWait(static_cast<std::uint32_t>(child.Pid()));
    ASSERT_TRUE(handle);
    EXPECT_EQ(WaitForHandles(&handle, 1, 50, false), kWaitTimeout);
    child.Signal(SIGTERM);
    EXPECT_EQ(WaitForHandles(&handle, 1, 10000, false), kWaitObject0);
    EXPECT_EQ(WaitForHandles(&handle, 1, 0, false), kWaitObject0);
    child.Wait();
    EXPECT_FALSE(OpenProcessForWait(0));
    EXPECT_FALSE(OpenProcessForWait(0x7FFFFFF0));
}

int ThreadNice(pid_t thread) {
    errno = 0;
    return ::getpriority(PRIO_PROCESS, static_cast<id_t>(thread));
}

TEST(ProcessHelpers, PriorityClassesApplyToEveryThreadAndBackgroundModeIsRestored) {
    if (!IsRoot()) {
        GTEST_SKIP() << "lowering the nice value again needs root";
    }
    // Run in a child: the test process keeps its own priority.
    EXPECT_EQ(test::RunInForkedChild([] {
                  std::atomic<pid_t> other{0};
                  std::atomic<bool> done{false};
                  std::thread worker([&] {
                      other = static_cast<pid_t>(::syscall(SYS_gettid));
                      while (!done) {
                          std::this_thread::sleep_for(std::chrono::milliseconds(5));
                      }
                  });
                  while (other == 0) {
                      std::this_thread::sleep_for(std::chrono::milliseconds(1));
                  }
                  int failures = 0;
                  const pid_t self = static_cast<pid_t>(::syscall(SYS_gettid));
                  failures += SetProcessPriority(BelowNormalPriorityClass) == 1 ? 0 : 1;
                  failures += ThreadNice(self) == 10 && ThreadNice(other) == 10 ? 0 : 2;
                  failures += SetProcessPriority(ProcessModeBackgroundEnd) == 0 ? 0 : 4;
                  failures += SetProcessPriority(ProcessModeBackgroundBegin) == 1 ? 0 : 8;
                  SchedulingPriority now;
                  failures += ReadSchedulingPriority(now) && now.ioPriority == IdleIoPriority() &&
                                      ThreadNice(other) == 19
                                  ? 0
                                  : 16;
                  failures += SetProcessPriority(ProcessModeBackgroundBegin) == 0 ? 0 : 32;
                  failures += SetProcessPriority(ProcessModeBackgroundEnd) == 1 ? 0 : 64;
                  failures += ReadSchedulingPriority(now) && now.ioPriority == 0 &&
                                      now.nice == 10 && ThreadNice(other) == 10
                                  ? 0
                                  : 128;
                  failures += SetProcessPriority(0x12345) == 0 ? 0 : 256;
                  done = true;
                  worker.join();
                  return failures > 255 ? 255 : failures;
              }),
              0);
}

TEST(Accounts, RootIsAnAdministratorAndNobodyIsNot) {
    if (!IsRoot()) {
        GTEST_SKIP() << "switching users needs root";
    }
    EXPECT_EQ(IsCurrentUserAdmin(), 1);
    EXPECT_EQ(test::RunInForkedChild([] { return IsCurrentUserAdmin(); }, test::kNobodyUser), 0);
}

}  // namespace
}  // namespace quarnel
