// The program installed, started, stopped and removed under a real systemd of its own, and the
// package's maintainer scripts with and without a running systemd.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "platform/child_process.h"
#include "tests/libraries/service/private_systemd.h"
#include "tests/support/test_support.h"

namespace quarnel {
namespace {

constexpr const char* kUnit = "quarnel-updater.service";

#define BOOT_PRIVATE_SYSTEMD(systemd)           \
    if (!(systemd).SkipReason().empty()) {      \
        GTEST_SKIP() << (systemd).SkipReason(); \
    }                                           \
    ASSERT_TRUE((systemd).Booted()) << (systemd).ManagerLog()

// The top of the source tree, where the package's scripts are.
std::string SourceFolder() {
    return QUARNEL_SOURCE_DIR;
}

class InstallationTest : public ::testing::Test {
  protected:
    std::string UnitPath() const { return root_.Path() + "/etc/systemd/system/" + kUnit; }
    CommandResult Program(const test::PrivateSystemd& systemd, const std::string& option) const {
        return systemd.Run({test::ProgramPath(), option}, {{"LOGLEVEL", "5"}}, 150);
    }

    test::TemporaryFolder root_;
};

TEST_F(InstallationTest, InstallEnablesAndStartsTheServiceAndUninstallRemovesIt) {
    test::PrivateSystemd systemd(root_.Path());
    BOOT_PRIVATE_SYSTEMD(systemd);

    const CommandResult installed = Program(systemd, "/install");
    ASSERT_TRUE(installed.finished) << installed.output;
    ASSERT_TRUE(std::filesystem::exists(UnitPath())) << installed.output;
    EXPECT_EQ(systemd.Systemctl({"is-enabled", kUnit}), "enabled");
    EXPECT_EQ(systemd.Systemctl({"show", "-p", "Type", "--value", kUnit}), "notify");
    EXPECT_EQ(systemd.Systemctl({"show", "-p", "NoNewPrivileges", "--value", kUnit}), "yes");

    // A second installation finds the service and leaves the unit alone.
    const std::string unit = test::ReadFileText(UnitPath());
    const CommandResult again = Program(systemd, "/install");
    EXPECT_EQ(again.exitCode, 0);
    EXPECT_NE(again.output.find("already installed"), std::string::npos) << again.output;
    EXPECT_EQ(test::ReadFileText(UnitPath()), unit);

    const CommandResult removed = Program(systemd, "/uninstall");
    EXPECT_EQ(removed.exitCode, 1) << removed.output;
    EXPECT_FALSE(std::filesystem::exists(UnitPath()));
    EXPECT_FALSE(std::filesystem::exists(root_.Path() +
                                         "/etc/systemd/system/multi-user.target.wants/" + kUnit));
    EXPECT_TRUE(systemd.WaitForUnitState(kUnit, "inactive", 30));
    EXPECT_EQ(systemd.Systemctl({"show", "-p", "LoadState", "--value", kUnit}), "not-found");
    // Nothing left to remove.
    EXPECT_EQ(Program(systemd, "/uninstall").exitCode, 0);
}

TEST_F(InstallationTest, AProgramPathThatNeedsQuotingReachesSystemdIntact) {
    test::PrivateSystemd systemd(root_.Path());
    BOOT_PRIVATE_SYSTEMD(systemd);
    // A folder that the manager sees too (the store folder is shared with the namespace).
    const std::string folder = "/var/lib/quarnel-updater/my 100% $apps";
    std::filesystem::create_directories(root_.Path() + folder);
    std::filesystem::copy_file(test::ProgramPath(), root_.Path() + folder + "/quarnel-updater");
    const CommandResult installed = systemd.Run({folder + "/quarnel-updater", "/install"}, {}, 150);
    ASSERT_TRUE(std::filesystem::exists(UnitPath())) << installed.output;
    const std::string command = systemd.Systemctl({"show", "-p", "ExecStart", "--value", kUnit});
    EXPECT_NE(command.find("path=" + folder + "/quarnel-updater ;"), std::string::npos) << command;
    // The program was found and run (203 would be a failed exec).
    EXPECT_EQ(command.find("status=203"), std::string::npos) << command;
    EXPECT_EQ(systemd.Run({folder + "/quarnel-updater", "/uninstall"}, {}, 150).exitCode, 1);
}

TEST_F(InstallationTest, WithoutRightsNothingIsInstalled) {
    test::PrivateSystemd systemd(root_.Path());
    BOOT_PRIVATE_SYSTEMD(systemd);
    const CommandResult result = systemd.Run({"setpriv", "--reuid=65534", "--regid=65534",
                                              "--clear-groups", test::ProgramPath(), "/install"},
                                             {}, 150);
    EXPECT_EQ(result.exitCode, 0) << result.output;
    EXPECT_NE(result.output.find("cannot write /etc/systemd/system/quarnel-updater.service"),
              std::string::npos)
        << result.output;
    EXPECT_FALSE(std::filesystem::exists(UnitPath()));
    EXPECT_EQ(systemd.Systemctl({"show", "-p", "LoadState", "--value", kUnit}), "not-found");
}

// The package's scripts find the program as "quarnel-updater" on the PATH.
std::string ProgramFolderForScripts(const std::string& root) {
    const std::string folder = root + "/var/lib/quarnel-updater/bin";
    std::filesystem::create_directories(folder);
    std::filesystem::create_symlink(test::ProgramPath(), folder + "/quarnel-updater");
    return folder;
}

TEST_F(InstallationTest, MaintainerScriptsInstallUpgradeAndRemoveTheService) {
    test::PrivateSystemd systemd(root_.Path());
    BOOT_PRIVATE_SYSTEMD(systemd);
    ProgramFolderForScripts(root_.Path());
    const std::string scripts = SourceFolder() + "/packaging/debian";
    const std::map<std::string, std::string> path = {
        {"PATH", "/var/lib/quarnel-updater/bin:/usr/sbin:/usr/bin:/sbin:/bin"}};

    const CommandResult installed =
        systemd.Run({"/bin/sh", scripts + "/postinst", "configure"}, path, 200);
    EXPECT_EQ(installed.exitCode, 0) << installed.output;
    EXPECT_EQ(systemd.Systemctl({"is-enabled", kUnit}), "enabled");

    // An upgrade: the old prerm removes the service, the new postinst installs it again.
    const CommandResult before =
        systemd.Run({"/bin/sh", scripts + "/prerm", "upgrade", "9.9"}, path, 200);
    EXPECT_EQ(before.exitCode, 0) << before.output;
    const CommandResult after =
        systemd.Run({"/bin/sh", scripts + "/postinst", "configure", "1.0"}, path, 200);
    EXPECT_EQ(after.exitCode, 0) << after.output;
    EXPECT_EQ(systemd.Systemctl({"is-enabled", kUnit}), "enabled");

    const CommandResult removed = systemd.Run({"/bin/sh", scripts + "/prerm", "remove"}, path, 200);
    EXPECT_EQ(removed.exitCode, 0) << removed.output;
    EXPECT_FALSE(std::filesystem::exists(UnitPath()));
    const CommandResult purged = systemd.Run({"/bin/sh", scripts + "/postrm", "purge"}, path, 200);
    EXPECT_EQ(purged.exitCode, 0) << purged.output;
}

// In a container no systemd runs: the scripts succeed, say why, and install no unit.
TEST_F(InstallationTest, MaintainerScriptsSucceedWhereSystemdDoesNotRun) {
    const std::string unshare = FindExecutable("unshare", "/usr/bin:/bin");
    if (::geteuid() != 0 || unshare.empty()) {
        GTEST_SKIP() << "a private mount namespace needs root and unshare";
    }
    for (const char* folder : {"/var/lib", "/var/log", "/etc/systemd/system", "/etc/xdg"}) {
        std::filesystem::create_directories(root_.Path() + folder);
    }
    ProgramFolderForScripts(root_.Path());
    const std::string scripts = SourceFolder() + "/packaging/debian";
    // An empty /run (no /run/systemd/system) and the test's folders over the system's.
    const std::string setup =
        "mount -t tmpfs tmpfs /run && "
        "mount --bind \"$0/var/lib\" /var/lib && mount --bind \"$0/var/log\" /var/log && "
        "mount --bind \"$0/etc/systemd/system\" /etc/systemd/system && "
        "mount --bind \"$0/etc/xdg\" /etc/xdg && "
        "export PATH=/var/lib/quarnel-updater/bin:/usr/sbin:/usr/bin:/sbin:/bin && "
        "sh \"$1/postinst\" configure && sh \"$1/prerm\" remove && sh \"$1/postrm\" remove";
    const CommandResult result = RunCommand({unshare, "--mount", "--propagation", "private",
                                             "/bin/sh", "-c", setup, root_.Path(), scripts},
                                            120000);
    EXPECT_EQ(result.exitCode, 0) << result.output;
    EXPECT_NE(result.output.find("systemd is not running"), std::string::npos) << result.output;
    EXPECT_NE(result.output.find("the service was not (newly) installed"), std::string::npos);
    EXPECT_TRUE(test::ListFolder(root_.Path() + "/etc/systemd/system").empty());
    // The installation still set up the store.
    EXPECT_TRUE(std::filesystem::exists(root_.Path() + "/var/lib/quarnel-updater/registry"));
}

}  // namespace
}  // namespace quarnel
