#include "update/privileged_install.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "platform/child_process.h"
#include "tests/support/test_support.h"
#include "tests/update/test_signer.h"

namespace quarnel {
namespace {

constexpr const char* kSystemFolders = "/usr/bin:/bin:/usr/sbin:/sbin";

// A real Debian package of that name and version, made with dpkg-deb; empty on failure.
std::string MakePackage(const std::string& folder, const std::string& name,
                        const std::string& version) {
    const std::string tree = folder + "/tree";
    std::filesystem::create_directories(tree + "/DEBIAN");
    std::ofstream(tree + "/DEBIAN/control")
        << "Package: " << name << "\nVersion: " << version
        << "\nArchitecture: all\nMaintainer: Test <test@example.org>\nDescription: test\n";
    const std::string package = folder + "/download.deb";
    const CommandResult built = RunCommand({FindExecutable("dpkg-deb", kSystemFolders), "--build",
                                            "--root-owner-group", tree, package},
                                           60000);
    std::filesystem::remove_all(tree);
    return built.finished && built.exitCode == 0 ? package : std::string();
}

struct Case {
    const char* name;
    const char* package;  // the signed package's name and version
    const char* version;
    const char* offered;  // the version the maker's page offered
    // What another process of the desktop user does to the checked download meanwhile.
    std::function<void(const std::string& download)> tamper;
    bool stillWanted;
    DownloadOutcome expected;
};

class PrivilegedInstall : public ::testing::TestWithParam<Case> {};

// The root step checks on a copy of its own: a file swapped or linked after the window checked
// it, another package, an older one, or another version than offered is never installed.
TEST_P(PrivilegedInstall, InstallsOnlyItsOwnVerifiedCopyOfTheOfferedNewerPackage) {
    if (QUARNEL_PINS_TEST_SIGNER == 0 || FindExecutable("dpkg-deb", kSystemFolders).empty()) {
        GTEST_SKIP() << "needs the build's test signer and dpkg-deb";
    }
    const Case& c = GetParam();
    const test::TemporaryFolder root;
    const std::string downloads = root.Path() + "/downloads";
    std::filesystem::create_directories(downloads);
    const std::string download = MakePackage(downloads, c.package, c.version);
    ASSERT_FALSE(download.empty());
    ASSERT_TRUE(test::SignFile(download, "test-signer", download + ".p7s"));
    const std::string genuine = test::ReadFileText(download);
    if (c.tamper) {
        c.tamper(download);
    }

    std::vector<std::string> installed;
    PrivilegedInstallSystem system;
    system.requireRoot = false;
    system.folderBase = root.Path() + "/updates";
    system.installedVersion = [] { return std::string("1.5.2.294"); };
    system.stillWanted = [&c] { return c.stillWanted; };
    system.install = [&](const std::string& path) {
        struct stat folder = {};
        EXPECT_EQ(::stat(path.substr(0, path.rfind('/')).c_str(), &folder), 0);
        EXPECT_EQ(folder.st_mode & 0777, 0700u);
        EXPECT_EQ(folder.st_uid, ::geteuid());
        EXPECT_EQ(test::ReadFileText(path), genuine) << "what is installed is what was verified";
        installed.push_back(path);
        return true;
    };
    const DownloadOutcome outcome = InstallOfferedPackage(download, c.offered, system);
    EXPECT_EQ(outcome, c.expected) << DownloadOutcomeText(outcome);
    EXPECT_EQ(installed.size(), c.expected == DownloadOutcome::Installing ? 1u : 0u);
    EXPECT_TRUE(test::ListFolder(system.folderBase).empty()) << "root's copy was left behind";
}

void Swap(const std::string& download) {
    std::ofstream(download, std::ios::binary | std::ios::trunc) << "SWAPPED";
}
void LinkInstead(const std::string& download) {
    std::filesystem::rename(download, download + ".real");
    std::filesystem::create_symlink(download + ".real", download);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PrivilegedInstall,
    ::testing::Values(Case{"Genuine",
                           "quarnel-updater",
                           "1.5.3.300",
                           "1.5.3.300",
                           {},
                           true,
                           DownloadOutcome::Installing},
                      Case{"SwappedAfterTheWindowChecked", "quarnel-updater", "1.5.3.300",
                           "1.5.3.300", Swap, true, DownloadOutcome::SignatureInvalid},
                      Case{"ALinkInItsPlace", "quarnel-updater", "1.5.3.300", "1.5.3.300",
                           LinkInstead, true, DownloadOutcome::NotARegularFile},
                      Case{"AnotherPackage",
                           "other-tool",
                           "1.5.3.300",
                           "1.5.3.300",
                           {},
                           true,
                           DownloadOutcome::NotThisProgram},
                      Case{"AnOlderSignedPackage",
                           "quarnel-updater",
                           "1.0.0.1",
                           "1.0.0.1",
                           {},
                           true,
                           DownloadOutcome::NotNewer},
                      Case{"NotTheOfferedVersion",
                           "quarnel-updater",
                           "1.5.3.300",
                           "1.5.3.301",
                           {},
                           true,
                           DownloadOutcome::NotOffered},
                      Case{"TheWindowClosed",
                           "quarnel-updater",
                           "1.5.3.300",
                           "1.5.3.300",
                           {},
                           false,
                           DownloadOutcome::Cancelled}),
    [](const ::testing::TestParamInfo<Case>& p) { return std::string(p.param.name); });

// Every outcome survives the trip through the exit code; pkexec's own codes mean no password.
TEST(PrivilegedInstallExitCode, CarriesEveryOutcome) {
    for (int value = 0; value <= static_cast<int>(DownloadOutcome::Cancelled); ++value) {
        const auto outcome = static_cast<DownloadOutcome>(value);
        EXPECT_EQ(PrivilegedInstallOutcome(PrivilegedInstallExitCode(outcome)), outcome) << value;
    }
    EXPECT_EQ(PrivilegedInstallOutcome(126), DownloadOutcome::NotAuthorized);
    EXPECT_EQ(PrivilegedInstallOutcome(127), DownloadOutcome::NotAuthorized);
    EXPECT_EQ(PrivilegedInstallOutcome(0), DownloadOutcome::InstallFailed);
}

}  // namespace
}  // namespace quarnel
