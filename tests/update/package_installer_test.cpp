#include "update/package_installer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/child_process.h"

namespace quarnel {
namespace {

// The package manager itself, with no shell between, the package last.
TEST(PackageInstallCommand, RunsThePackageManagerDirectly) {
    const std::string path = "/var/lib/quarnel-updater/updates/x/quarnel-updater.deb";
    const std::vector<std::string> root = PackageInstallCommand(path);
    if (FindExecutable("apt-get", "/usr/bin:/bin:/usr/sbin:/sbin").empty()) {
        GTEST_SKIP() << "no apt-get on this machine";
    }
    ASSERT_EQ(root.size(), 4u);
    EXPECT_EQ(root[0].substr(0, 1), "/");
    EXPECT_EQ(root[0].substr(root[0].rfind('/')), "/apt-get");
    EXPECT_EQ(root[3], path);
    // apt-get would look a bare name up in its archives instead of taking the file.
    EXPECT_TRUE(PackageInstallCommand("quarnel-updater.deb").empty());
}

}  // namespace
}  // namespace quarnel
