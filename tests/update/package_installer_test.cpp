#include "update/package_installer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/child_process.h"

namespace quarnel {
namespace {

// The package manager itself, with no shell between, the package last; pkexec in front unless
// the caller is root.
TEST(PackageInstallCommand, RunsThePackageManagerDirectlyOrThroughPkexec) {
    const std::string path = "/tmp/quarnel-update-x/quarnel-updater.deb";
    const std::vector<std::string> root = PackageInstallCommand(path, true);
    if (FindExecutable("apt-get", "/usr/bin:/bin:/usr/sbin:/sbin").empty()) {
        GTEST_SKIP() << "no apt-get on this machine";
    }
    ASSERT_EQ(root.size(), 4u);
    EXPECT_EQ(root[0].substr(0, 1), "/");
    EXPECT_EQ(root[0].substr(root[0].rfind('/')), "/apt-get");
    EXPECT_EQ(root[3], path);

    const std::vector<std::string> user = PackageInstallCommand(path, false);
    if (FindExecutable("pkexec", "/usr/bin:/bin:/usr/sbin:/sbin").empty()) {
        EXPECT_TRUE(user.empty()) << "without pkexec a user cannot install";
    } else {
        ASSERT_EQ(user.size(), 5u);
        EXPECT_EQ(user[0].substr(user[0].rfind('/')), "/pkexec");
        EXPECT_EQ(std::vector<std::string>(user.begin() + 1, user.end()), root);
    }
    // apt-get would look a bare name up in its archives instead of taking the file.
    EXPECT_TRUE(PackageInstallCommand("quarnel-updater.deb", true).empty());
}

}  // namespace
}  // namespace quarnel
