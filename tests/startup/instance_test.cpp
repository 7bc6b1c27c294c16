// Instance markers and messages between real processes, and the process helpers.

#include "startup/instance.h"

#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <thread>

#include "platform/elevation.h"
#include "platform/guid.h"
#include "platform/instance.h"
#include "platform/process_control.h"
#include "tests/support/child_process.h"
#include "tests/support/test_support.h"

namespace quarnel {
namespace {

bool IsRoot() {
    return ::geteuid() == 0;
}

// Every test keeps its markers apart from every other test through a root of its own, open to
// the second user like the real file system is, with a /tmp of its own.
class Instance : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(::chmod(root_.Path().c_str(), 0755), 0);
        const std::string temporary = root_.Path() + "/tmp";
        ASSERT_EQ(::mkdir(temporary.c_str(), 0700), 0);
        ASSERT_EQ(::chmod(temporary.c_str(), 01777), 0);
        // Another user must be able to run the helper, wherever the build tree lies (a folder
        // like /root/project is closed to everybody else): it runs from a copy.
        ASSERT_EQ(::chmod(helperFolder_.Path().c_str(), 0755), 0);
        std::filesystem::copy_file(test::TestProgramFolder() + "/instance_helper", HelperPath());
        ASSERT_EQ(::chmod(HelperPath().c_str(), 0755), 0);
    }

    std::string HelperPath() const { return helperFolder_.Path() + "/instance_helper"; }
    std::map<std::string, std::string> Environment() const {
        return {{"QUARNEL_ROOT", root_.Path()}};
    }
    // Starts a helper holding mode's marker and waits until it does.
    void Hold(test::ChildProcess& child, const std::string& mode,
              std::optional<uid_t> user = std::nullopt,
              std::map<std::string, std::string> extra = {}) {
        std::map<std::string, std::string> environment = Environment();
        environment.insert(extra.begin(), extra.end());
        ASSERT_TRUE(child.Start(HelperPath(), {mode}, environment, user));
        ASSERT_TRUE(child.WaitForLine("running=0")) << child.Output();
    }

    test::TemporaryFolder root_;
    test::TemporaryFolder helperFolder_;
    test::ScopedEnvironment rootVariable_{"QUARNEL_ROOT", root_.Path()};
    test::ScopedEnvironment sudo_{"SUDO_UID", std::nullopt};
    test::ScopedEnvironment pkexec_{"PKEXEC_UID", std::nullopt};
    test::ScopedEnvironment runtime_{"XDG_RUNTIME_DIR", std::nullopt};
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

TEST_F(Instance, MarkersAreLockFilesInTheUsersPrivateFolderAndTheRuntimeFolder) {
    const std::string folder = InstanceFolder(::geteuid());
    EXPECT_EQ(folder, root_.Path() + "/tmp/quarnel-updater-" + std::to_string(::geteuid()));
    {
        const test::ScopedEnvironment runtime("XDG_RUNTIME_DIR", "/run/user/4242");
        EXPECT_EQ(InstanceFolder(::geteuid()), root_.Path() + "/run/user/4242/quarnel-updater");
    }
    EXPECT_EQ(InstanceFolder(std::nullopt), root_.Path() + "/run/quarnel-updater");
    ASSERT_EQ(IsInstanceRunning(SystrayInstanceGuid), 0);
    ASSERT_EQ(IsInstanceRunning(ServiceInstanceGuid), 0);
    const std::string guid = GuidToString(SystrayInstanceGuid);
    struct stat info = {};
    ASSERT_EQ(::lstat(folder.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0700u);
    ASSERT_EQ(::lstat((folder + "/" + guid + ".lock").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    ASSERT_EQ(::lstat(InstanceSocketPath(guid, ::geteuid()).c_str(), &info), 0);
    EXPECT_TRUE(S_ISSOCK(info.st_mode));
    const std::string runtime = root_.Path() + "/run/quarnel-updater";
    ASSERT_EQ(::lstat(runtime.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0755u);
    ASSERT_EQ(::lstat((runtime + "/" + GuidToString(ServiceInstanceGuid) + ".lock").c_str(), &info),
              0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
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
    // The service's lock file is closed to other users, yet they see that it is held.
    EXPECT_EQ(test::RunInForkedChild([] { return IsInstanceRunning(ServiceInstanceGuid); },
                                     test::kNobodyUser),
              1);
}

TEST_F(Instance, AnotherUserCannotTakeTheServiceOrAnotherUsersMarker) {
    if (!IsRoot()) {
        GTEST_SKIP() << "switching users needs root";
    }
    // Once before the other user tries, and once not: neither a missing nor an existing runtime
    // folder lets the other user's process hold the service's marker.
    for (const bool serviceRanBefore : {false, true}) {
        if (serviceRanBefore) {
            ASSERT_EQ(test::RunInForkedChild([] { return IsInstanceRunning(ServiceInstanceGuid); }),
                      0);
        }
        test::ChildProcess squatter;
        ASSERT_TRUE(squatter.Start(HelperPath(), {"service"}, Environment(), test::kNobodyUser));
        ASSERT_TRUE(squatter.WaitForLine("running=0")) << squatter.Output();
        EXPECT_EQ(test::RunInForkedChild([] { return IsInstanceRunning(ServiceInstanceGuid); }), 0)
            << "service ran before: " << serviceRanBefore;
    }
    // The other user's own tray is no tray of root's.
    test::ChildProcess tray;
    Hold(tray, "systray", test::kNobodyUser);
    EXPECT_EQ(IsInstanceRunning(SystrayInstanceGuid), 0);
}

TEST_F(Instance, AFolderThatAnotherUserPreparedIsNotTrusted) {
    if (!IsRoot()) {
        GTEST_SKIP() << "switching users needs root";
    }
    const std::string folder = InstanceFolder(0u);
    ASSERT_EQ(
        test::RunInForkedChild([&folder] { return ::mkdir(folder.c_str(), 0777) == 0 ? 0 : 1; },
                               test::kNobodyUser),
        0);
    ASSERT_EQ(::chmod(folder.c_str(), 0777), 0);
    // Nothing of root's goes into it; root's process runs (as the first) without a marker.
    EXPECT_EQ(IsInstanceRunning(UpdateInstanceGuid), 0);
    EXPECT_TRUE(test::ListFolder(folder).empty());
}

// Root takes a user's marker in the user's own folder, where the user can put a link (or a hard
// link to a file of root's) in place of the lock file or the socket at any moment: a file of
// root's never changes its mode or owner.
TEST_F(Instance, ALinkInTheUsersFolderNeverTurnsRootsModeOrOwnerChangeOntoAnotherFile) {
    if (!IsRoot()) {
        GTEST_SKIP() << "acting for another user needs root";
    }
    const std::string victim = root_.Path() + "/victim";
    std::ofstream(victim) << "root's";
    ASSERT_EQ(::chmod(victim.c_str(), 0644), 0);
    const std::string guid = GuidToString(UpdateInstanceGuid);
    const std::string folder = InstanceFolder(test::kNobodyUser);
    {
        InstanceMarker first;
        ASSERT_EQ(ClaimInstanceMarker(guid, test::kNobodyUser, first), InstanceClaim::Held);
    }
    const std::string lock = folder + "/" + guid + ".lock";
    ASSERT_EQ(::unlink(lock.c_str()), 0);
    ASSERT_EQ(::link(victim.c_str(), lock.c_str()), 0);
    InstanceMarker planted;
    EXPECT_NE(ClaimInstanceMarker(guid, test::kNobodyUser, planted), InstanceClaim::Held);
    ASSERT_EQ(::unlink(lock.c_str()), 0);

    // The socket is made by bind, then given its mode and owner: a racing user swaps a link in.
    std::atomic<bool> done{false};
    const std::string socket = folder + "/" + guid + ".socket";
    std::thread racer([&] {
        const std::string link = folder + "/racing-link";
        for (int i = 0; i < 2000000 && !done; ++i) {
            (void)::symlink(victim.c_str(), link.c_str());
            (void)::rename(link.c_str(), socket.c_str());
        }
    });
    for (int round = 0; round < 3000; ++round) {
        InstanceMarker marker;
        (void)ClaimInstanceMarker(guid, test::kNobodyUser, marker);
    }
    done = true;
    racer.join();
    struct stat info = {};
    ASSERT_EQ(::stat(victim.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0644u);
    EXPECT_EQ(info.st_uid, 0u);
}

TEST_F(Instance, BroadcastReachesTheUsersProcessesAndCodesFromOtherUsersAreRefused) {
    test::ChildProcess tray;
    Hold(tray, "systray");
    test::ChildProcess setting;
    Hold(setting, "setting");

    if (IsRoot()) {
        const std::string trayPath = InstanceSocketPath(GuidToString(SystrayInstanceGuid), 0u);
        const auto sendQuit = [&trayPath] {
            const UniqueHandle sender = CreateInstanceSender();
            return SendInstanceCode(sender.Get(), trayPath, InstanceCodeQuit) ? 1 : 0;
        };
        // The folder is closed to other users...
        EXPECT_EQ(test::RunInForkedChild(sendQuit, test::kNobodyUser), 0);
        // ... and were it open, the receiver still looks at who sent the code.
        ASSERT_EQ(::chmod(InstanceFolder(0u).c_str(), 0755), 0);
        ASSERT_EQ(::chmod(trayPath.c_str(), 0666), 0);
        EXPECT_EQ(test::RunInForkedChild(sendQuit, test::kNobodyUser), 1);
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
    EXPECT_EQ(userTray.Wait(), 0);

    // A settings process that root runs for the user holds the user's marker in the user's
    // folder, where the user's own processes see it.
    test::ChildProcess rootSetting;
    Hold(rootSetting, "setting", std::nullopt, {{"SUDO_UID", std::to_string(test::kNobodyUser)}});
    test::ChildProcess userSetting;
    ASSERT_TRUE(userSetting.Start(HelperPath(), {"setting"}, Environment(), test::kNobodyUser));
    EXPECT_TRUE(userSetting.WaitForLine("running=1")) << userSetting.Output();
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
