// The program installed, started, stopped and removed under a real systemd of its own.

#include <gtest/gtest.h>

#include "tests/libraries/src/service/private_systemd.h"
#include "tests/support/test_support.h"

namespace quarnel {
namespace {

TEST(Installation, InstallAndUninstallUnderAPrivateSystemd) {
    test::TemporaryFolder root;
    test::PrivateSystemd systemd(root.Path());
    if (!systemd.SkipReason().empty()) {
        GTEST_SKIP() << systemd.SkipReason();
    }
    ASSERT_TRUE(systemd.Booted()) << systemd.ManagerLog();
    const std::string program = test::ProgramPath();
    auto result = systemd.Run({program, "/install"}, {{"LOGLEVEL", "6"}}, 150);
    std::printf("install exit %d\n%s\n", result.exitCode, result.output.c_str());
    std::printf("%s\n", systemd.Systemctl({"status", "quarnel-updater.service"}).c_str());
    result = systemd.Run({program, "/uninstall"}, {}, 150);
    std::printf("uninstall exit %d\n%s\n", result.exitCode, result.output.c_str());
    std::printf("%s\n", systemd.Systemctl({"status", "quarnel-updater.service"}).c_str());
}

}  // namespace
}  // namespace quarnel
