// Service management where no service manager runs for the tree: the unit is written and
// enabled offline below QUARNEL_ROOT, and nothing can be started or stopped.

#include "libraries/src/service/service_manager.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "libraries/src/service/unit_file.h"
#include "platform/systemd.h"
#include "tests/support/test_support.h"

namespace quarnel {
namespace {

constexpr const char* kName = "Quarnel Updater";
constexpr const char* kDependencies = "network-online.target\n";

class OfflineServiceTest : public ::testing::Test {
  protected:
    OfflineServiceTest() : rootEnvironment_("QUARNEL_ROOT", root_.Path()) {}

    std::string UnitPath() const {
        return root_.Path() + "/etc/systemd/system/quarnel-updater.service";
    }
    std::string WantsLink() const {
        return root_.Path() + "/etc/systemd/system/multi-user.target.wants/quarnel-updater.service";
    }
    std::int64_t Install(const std::string& program, const std::string& description = "About") {
        return InstallService(kName, "Quarnel Updater", program, "/service", description,
                              kDependencies);
    }

    test::TemporaryFolder root_;
    test::ScopedEnvironment rootEnvironment_;
};

TEST_F(OfflineServiceTest, InstallWritesAndEnablesTheUnitOnceAndDeleteTakesItAway) {
    if (SystemctlPath().empty()) {
        GTEST_SKIP() << "systemctl is not installed";
    }
    EXPECT_EQ(ServiceExists(kName), 0);
    ASSERT_EQ(Install("/usr/bin/quarnel-updater"), 1);
    EXPECT_EQ(ServiceUnitPath(kName), UnitPath());
    const std::string unit = test::ReadFileText(UnitPath());
    EXPECT_EQ(FindUnitCommandLine(unit), "/usr/bin/quarnel-updater /service");
    struct stat info = {};
    ASSERT_EQ(::stat(UnitPath().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0644u);
    // systemctl --root made the link that starts the service at boot.
    EXPECT_EQ(std::filesystem::read_symlink(WantsLink()).string(),
              "/etc/systemd/system/quarnel-updater.service");
    EXPECT_EQ(ServiceExists(kName), 1);
    // No temporary file is left among the units.
    EXPECT_EQ(test::ListFolder(root_.Path() + "/etc/systemd/system"),
              (std::vector<std::string>{"multi-user.target.wants", "quarnel-updater.service"}));

    // A second installation of the same program changes nothing and fails.
    std::filesystem::last_write_time(UnitPath(), std::filesystem::file_time_type{});
    EXPECT_EQ(Install("/usr/bin/quarnel-updater", "Another description"), 0);
    EXPECT_EQ(test::ReadFileText(UnitPath()), unit);
    EXPECT_EQ(std::filesystem::last_write_time(UnitPath()), std::filesystem::file_time_type{});

    // Nothing runs below the root, so nothing starts or stops.
    EXPECT_EQ(StartServiceByName(kName), 0);
    EXPECT_EQ(StopServiceByName(kName), 0);

    EXPECT_EQ(DeleteServiceByName(kName), 1);
    EXPECT_FALSE(std::filesystem::exists(UnitPath()));
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(WantsLink())));
    EXPECT_EQ(ServiceExists(kName), 0);
    EXPECT_EQ(DeleteServiceByName(kName), 0);
}

TEST_F(OfflineServiceTest, AUnitOfAnotherProgramOrQuotedOtherwiseIsReplaced) {
    if (SystemctlPath().empty()) {
        GTEST_SKIP() << "systemctl is not installed";
    }
    std::filesystem::create_directories(root_.Path() + "/etc/systemd/system");
    // The program moved: the old unit names the old place.
    std::ofstream(UnitPath()) << "[Service]\nExecStart=/opt/old/quarnel-updater /service\n";
    EXPECT_EQ(Install("/usr/bin/quarnel-updater"), 1);
    EXPECT_EQ(FindUnitCommandLine(test::ReadFileText(UnitPath())),
              "/usr/bin/quarnel-updater /service");

    // The same path, but not quoted as a path with a blank must be.
    std::ofstream(UnitPath()) << "[Service]\nExecStart=/opt/my apps/quarnel-updater /service\n";
    EXPECT_EQ(Install("/opt/my apps/quarnel-updater"), 1);
    EXPECT_EQ(FindUnitCommandLine(test::ReadFileText(UnitPath())),
              "\"/opt/my apps/quarnel-updater\" /service");
}

TEST_F(OfflineServiceTest, WithoutDescriptionTheServiceIsCreatedButTheResultIsZero) {
    if (SystemctlPath().empty()) {
        GTEST_SKIP() << "systemctl is not installed";
    }
    EXPECT_EQ(Install("/usr/bin/quarnel-updater", ""), 0);
    EXPECT_TRUE(std::filesystem::exists(UnitPath()));
    EXPECT_EQ(test::ReadFileText(UnitPath()).find("About"), std::string::npos);
    EXPECT_EQ(ServiceExists(kName), 1);
}

TEST_F(OfflineServiceTest, AnUnwritableUnitFolderFailsWithoutLeavingAnything) {
    // A file where the unit folder should be: nothing can be written below it.
    std::filesystem::create_directories(root_.Path() + "/etc/systemd");
    std::ofstream(root_.Path() + "/etc/systemd/system") << "not a folder";
    EXPECT_EQ(Install("/usr/bin/quarnel-updater"), 0);
    EXPECT_EQ(Install("relative/quarnel-updater"), 0);
    EXPECT_EQ(ServiceExists(kName), 0);
}

// The unit runs the program as root at every boot: a program, helper or folder above them that
// another user can change is refused with one line naming it and its owner, and nothing is
// written. A sticky folder everybody may write (as /tmp) still protects root's folder below it.
TEST_F(OfflineServiceTest, AProgramThatAnotherUserCouldReplaceIsRefused) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "giving a folder to another user needs root";
    }
    struct Layout {
        const char* changed;  // below the program's tree; chowned to nobody or opened to all
        bool toNobody;
        mode_t mode;
        const char* named;  // what the line says, empty: installed
    };
    for (const Layout& layout :
         {Layout{"opt/app/bin", true, 0755, "bin belongs to nobody (uid 65534)"},
          Layout{"opt/app/libexec", true, 0755, "libexec belongs to nobody (uid 65534)"},
          Layout{"opt/app/bin", false, 0777, "bin can be written by everybody"},
          Layout{"opt", false, 01777, ""}}) {
        const test::TemporaryFolder tree;
        ASSERT_EQ(::chmod(tree.Path().c_str(), 0755), 0);
        const std::string program = tree.Path() + "/opt/app/bin/quarnel-updater";
        std::filesystem::create_directories(tree.Path() + "/opt/app/libexec");
        std::filesystem::create_directories(tree.Path() + "/opt/app/bin");
        std::ofstream(program) << "program";
        const std::string changed = tree.Path() + "/" + layout.changed;
        ASSERT_EQ(::chmod(changed.c_str(), layout.mode), 0);
        if (layout.toNobody) {
            ASSERT_EQ(::chown(changed.c_str(), 65534, 65534), 0);
        }
        if (*layout.named == '\0' && SystemctlPath().empty()) {
            continue;
        }
        ::testing::internal::CaptureStderr();
        const std::int64_t installed = Install(program);
        const std::string said = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(installed, *layout.named == '\0' ? 1 : 0) << layout.changed << ": " << said;
        EXPECT_NE(said.find(layout.named), std::string::npos) << said;
        EXPECT_EQ(ServiceExists(kName), installed) << layout.changed;
        if (installed == 1) {
            EXPECT_EQ(DeleteServiceByName(kName), 1);
        }
    }
}

// Without QUARNEL_ROOT and without a running systemd (a container) every operation fails at
// once and writes nothing, even as root.
TEST(ServiceWithoutSystemd, EveryOperationReturnsZero) {
    if (SystemdRunning()) {
        GTEST_SKIP() << "systemd runs on this machine; the real service manager is not touched";
    }
    test::ScopedEnvironment noRoot("QUARNEL_ROOT", std::nullopt);
    const std::string name = "Quarnel Test " + std::to_string(::getpid());
    EXPECT_EQ(
        InstallService(name, name, "/usr/bin/quarnel-updater", "/service", "About", kDependencies),
        0);
    EXPECT_FALSE(std::filesystem::exists(ServiceUnitPath(name)));
    EXPECT_EQ(StartServiceByName(name), 0);
    EXPECT_EQ(StopServiceByName(name), 0);
    EXPECT_EQ(DeleteServiceByName(name), 0);
    EXPECT_EQ(ServiceExists(name), 0);
}

}  // namespace
}  // namespace quarnel
