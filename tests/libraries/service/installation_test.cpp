// The program installed, started, stopped and removed under a real systemd of its own, and the
// package's maintainer scripts with and without a running systemd.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <thread>

#include "platform/child_process.h"
#include "settings/registry.h"
#include "settings/schema.h"
#include "tests/fixtures/endpoint_overrides.h"
#include "tests/fixtures/provider_emulator.h"
#include "tests/fixtures/request_record.h"
#include "tests/libraries/adapter/network_test_support.h"
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

// Polls condition every 50 ms for at most timeoutMs.
// Its waits include systemd starting and stopping the service, so they are longer than usual.
bool Eventually(const std::function<bool()>& condition, int timeoutMs = 30000) {
    return test::Eventually(condition, timeoutMs);
}

int CountRequests(const test::ProviderEmulator& emulator, const std::string& targetStart) {
    int count = 0;
    for (const test::RequestRecord& record : test::ParseRequestRecords(emulator.Requests())) {
        if (record.target.starts_with(targetStart)) {
            ++count;
        }
    }
    return count;
}

// The value a status line shows after its label.
std::string Shown(const std::string& output, const std::string& label) {
    const std::size_t at = output.find(label);
    if (at == std::string::npos) {
        return "(missing)";
    }
    std::size_t start = at + label.size();
    while (start < output.size() && output[start] == ' ') {
        ++start;
    }
    return output.substr(start, output.find('\n', start) - start);
}

class InstallationTest : public ::testing::Test {
  protected:
    std::string UnitPath() const { return root_.Path() + "/etc/systemd/system/" + kUnit; }
    CommandResult Program(const test::PrivateSystemd& systemd, const std::string& option) const {
        return systemd.Run({systemd.ProgramPath(), option}, {{"LOGLEVEL", "5"}}, 150);
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
                                              "--clear-groups", systemd.ProgramPath(), "/install"},
                                             {}, 150);
    EXPECT_EQ(result.exitCode, 0) << result.output;
    EXPECT_NE(result.output.find("cannot write /etc/systemd/system/quarnel-updater.service"),
              std::string::npos)
        << result.output;
    EXPECT_FALSE(std::filesystem::exists(UnitPath()));
    EXPECT_EQ(systemd.Systemctl({"show", "-p", "LoadState", "--value", kUnit}), "not-found");
}

// The package's scripts find the program as "quarnel-updater" on the PATH: a link to program
// (its path where the scripts run).
std::string ProgramFolderForScripts(const std::string& root, const std::string& program) {
    const std::string folder = root + "/var/lib/quarnel-updater/bin";
    std::filesystem::create_directories(folder);
    std::filesystem::create_symlink(program, folder + "/quarnel-updater");
    // The scripts create a system user; this stand-in only notes the request, so that the
    // machine's own user database is never touched.
    const std::string sysusers = folder + "/systemd-sysusers";
    std::ofstream(sysusers) << "#!/bin/sh\necho \"$@\" >>/var/lib/quarnel-updater/sysusers-calls\n";
    std::filesystem::permissions(sysusers, std::filesystem::perms::owner_all);
    return folder;
}

TEST_F(InstallationTest, MaintainerScriptsInstallUpgradeAndRemoveTheService) {
    const std::string outsideScripts = SourceFolder() + "/packaging/debian";
    test::PrivateSystemd systemd(root_.Path(), {.ownNetwork = true, .shared = {outsideScripts}});
    BOOT_PRIVATE_SYSTEMD(systemd);
    ProgramFolderForScripts(root_.Path(), systemd.ProgramPath());
    const std::string scripts = test::PrivateSystemd::SharedPath(outsideScripts);
    const std::map<std::string, std::string> path = {
        {"PATH", "/var/lib/quarnel-updater/bin:/usr/sbin:/usr/bin:/sbin:/bin"}};

    const CommandResult installed =
        systemd.Run({"/bin/sh", scripts + "/postinst", "configure"}, path, 200);
    EXPECT_EQ(installed.exitCode, 0) << installed.output;
    EXPECT_EQ(systemd.Systemctl({"is-enabled", kUnit}), "enabled");
    EXPECT_EQ(test::ReadFileText(root_.Path() + "/var/lib/quarnel-updater/sysusers-calls"),
              "quarnel-updater.conf\n");

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
    ProgramFolderForScripts(root_.Path(), test::ProgramPath());
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

// The whole road: installed under systemd, the service reports itself ready, runs its first
// update against the emulator, takes new settings from /configure at once through control 128,
// shows everything in /status, stops and is removed.
TEST_F(InstallationTest, TheInstalledServiceUpdatesAndFollowsConfigureUntilItIsRemoved) {
    // A network of its own: the emulator, the manager and the service share it and nothing
    // leaves the machine.
    QUARNEL_ENTER_PRIVATE_NETWORK("quarnel-install", "");
    test::ScopedEnvironment quarnelRoot("QUARNEL_ROOT", root_.Path());
    const std::string store = "/var/lib/quarnel-updater";  // shared with the namespace

    test::ProviderEmulator emulator;
    test::ProviderEmulator::Options options;
    options.certificateFolder = root_.Path() + store + "/test-ca";
    std::filesystem::create_directories(options.certificateFolder);
    options.commands = {
        "/admin/account?user=alice&password=s3cret", "/admin/host?name=home.example.org&user=alice",
        "/admin/dns?name=probe.test&answer=A:198.51.100.1", "/admin/echo?text=203.0.113.5"};
    ASSERT_TRUE(emulator.Start(options));
    ASSERT_TRUE(test::PointEndpointsAtEmulator(emulator));
    ASSERT_TRUE(test::SetEndpointOverride(Endpoint::ProbeHost, "probe.test"));
    // The service trusts the emulator's test CA; a drop-in gives it the variable.
    const std::string dropIn = root_.Path() + "/etc/systemd/system/" + kUnit + ".d";
    std::filesystem::create_directories(dropIn);
    std::ofstream(dropIn + "/test.conf")
        << "[Service]\nEnvironment=SSL_CERT_FILE=" << store << "/test-ca/ca.pem no_proxy=*\n";

    test::PrivateSystemd systemd(root_.Path(), {.ownNetwork = false, .shared = {}});
    BOOT_PRIVATE_SYSTEMD(systemd);
    const std::map<std::string, std::string> environment = {{"SUDO_UID", "65534"},
                                                            {"LOGLEVEL", "5"}};

    // Settings first, through the command a user without a window has.
    const auto configure = [&](const std::string& input) {
        std::ofstream(root_.Path() + store + "/configure-input") << input;
        return systemd.Run({"/bin/sh", "-c", "exec \"$0\" /configure < \"$1\"",
                            systemd.ProgramPath(), store + "/configure-input"},
                           environment, 60);
    };
    const CommandResult first =
        configure("Username=alice\nPassword=s3cret\nHostname=home.example.org\nProvider=DynDNS\n");
    EXPECT_EQ(first.exitCode, 0) << first.output;

    // Installed on behalf of a user: all four steps succeed, and the first cycle updates.
    const CommandResult installed =
        systemd.Run({systemd.ProgramPath(), "/install"}, environment, 150);
    EXPECT_EQ(installed.exitCode, 1) << installed.output;
    EXPECT_EQ(systemd.Systemctl({"is-enabled", kUnit}), "enabled");
    // Active means the service told systemd READY=1 (Type=notify).
    ASSERT_TRUE(systemd.WaitForUnitState(kUnit, "active", 30))
        << systemd.Systemctl({"status", kUnit});
    const auto result = [] {
        return ReadRegistryString(RegistryHive::LocalMachine, kServiceKey, kValueResult);
    };
    ASSERT_TRUE(Eventually([&] { return result() == "good 203.0.113.5"; }))
        << result() << "\n"
        << systemd.Systemctl({"status", kUnit});
    EXPECT_EQ(CountRequests(emulator, "/nic/update"), 1);

    // The public address moves; new settings reach the running service at once (control
    // 128), whose cycle then sends the new address.
    emulator.Admin("/admin/echo?text=203.0.113.77");
    const CommandResult second = configure("Interval=10\n");
    EXPECT_EQ(second.exitCode, 0) << second.output;
    EXPECT_NE(second.output.find("The service was told to update now."), std::string::npos)
        << second.output;
    EXPECT_TRUE(Eventually([&] { return result() == "good 203.0.113.77"; }))
        << result() << "\n"
        << systemd.Systemctl({"status", kUnit});
    EXPECT_EQ(CountRequests(emulator, "/nic/update"), 2);

    // The cycle stores the result first, then the address and the event: the status is read
    // again until the event is in, too.
    CommandResult status;
    EXPECT_TRUE(Eventually([&] {
        status = systemd.Run({systemd.ProgramPath(), "/status"}, environment, 60);
        return status.output.find("] good 203.0.113.77\n") != std::string::npos;
    })) << status.output;
    EXPECT_EQ(status.exitCode, 0) << status.output;
    EXPECT_EQ(Shown(status.output, "Service:"), "running (installed)") << status.output;
    EXPECT_EQ(Shown(status.output, "Host name:"), "home.example.org") << status.output;
    EXPECT_EQ(Shown(status.output, "Interval:"), "10 minutes") << status.output;
    EXPECT_EQ(Shown(status.output, "Provider answer:"), "good 203.0.113.77") << status.output;
    // A normal user may not ask the service itself; systemd's view answers instead.
    const auto userStatus = [&] {
        return systemd
            .Run({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                  systemd.ProgramPath(), "/status"},
                 {}, 60)
            .output;
    };
    EXPECT_EQ(Shown(userStatus(), "Service:"), "running (installed)") << userStatus();
    EXPECT_EQ(Shown(status.output, "Address:"), "203.0.113.77") << status.output;
    EXPECT_NE(status.output.find("Newest events:\n  ["), std::string::npos) << status.output;
    EXPECT_NE(status.output.find("] good 203.0.113.77\n"), std::string::npos) << status.output;

    // Stopped, it stays installed; removed, it is gone.
    const CommandResult stopped = systemd.Run({systemd.ProgramPath(), "/stop"}, environment, 60);
    EXPECT_EQ(stopped.exitCode, 1) << stopped.output;
    EXPECT_TRUE(systemd.WaitForUnitState(kUnit, "inactive", 30));
    EXPECT_EQ(systemd.Systemctl({"is-enabled", kUnit}), "enabled");
    EXPECT_EQ(Shown(systemd.Run({systemd.ProgramPath(), "/status"}, {}, 60).output, "Service:"),
              "not running (installed)");
    EXPECT_EQ(Shown(userStatus(), "Service:"), "not running (installed)") << userStatus();

    const CommandResult removed =
        systemd.Run({systemd.ProgramPath(), "/uninstall"}, environment, 60);
    EXPECT_EQ(removed.exitCode, 1) << removed.output;
    EXPECT_FALSE(std::filesystem::exists(UnitPath()));
    EXPECT_EQ(systemd.Systemctl({"show", "-p", "LoadState", "--value", kUnit}), "not-found");
}

}  // namespace
}  // namespace quarnel
