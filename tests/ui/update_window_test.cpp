#include "ui/update_window.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <string>
#include <vector>

#include "resources/texts.h"
#include "tests/ddns/emulator_test_base.h"
#include "tests/fixtures/endpoint_overrides.h"
#include "tests/ui/qt_application.h"
#include "tests/update/test_signer.h"

namespace quarnel {
namespace {

struct Case {
    const char* name;
    const char* signature;  // the signature file the emulator serves beside the installer
    bool installed;
};

class UpdateWindowRun : public test::EmulatorTest, public ::testing::WithParamInterface<Case> {};

// The window offers the published version; Install downloads, verifies and installs, or ends
// with the reason and nothing installed.
TEST_P(UpdateWindowRun, OffersTheVersionAndInstallsOnlyWhatTheMakerSigned) {
    if (QUARNEL_PINS_TEST_SIGNER == 0) {
        GTEST_SKIP() << "this build pins the maker's certificate, whose key the tests lack";
    }
    test::EnsureQtApplication();
    ASSERT_TRUE(test::PointEndpointsAtEmulator(emulator_));
    const std::string files = root_.Path() + "/files";
    ASSERT_EQ(::mkdir(files.c_str(), 0700), 0);
    std::ofstream(files + "/q.deb", std::ios::binary) << std::string(300000, 'd');
    ASSERT_TRUE(test::SignFile(files + "/q.deb", "test-signer", files + "/good.p7s"));
    ASSERT_TRUE(test::SignFile(files + "/q.deb", "other-signer", files + "/other.p7s"));
    Admin("/admin/page?path=/q.deb&file=" + files + "/q.deb");
    Admin("/admin/page?path=/q.deb.p7s&file=" + files + "/" + GetParam().signature);
    Admin("/admin/software?software-version=1.5.2.295&software-download=" + HttpsUrl("/q.deb"));

    const test::TemporaryFolder base;
    std::vector<std::string> installed;
    UpdateWindowOperations operations;
    operations.folderBase = base.Path();
    operations.install = [&](const std::string& path) {
        installed.push_back(path);
        return true;
    };
    UpdateWindow window(false, operations);
    window.Start();
    ASSERT_TRUE(test::ProcessEventsUntil([&] { return window.isVisible(); }));
    EXPECT_EQ(window.StatusText().toStdString(), GetLocalizedText(35206, "1.5.2.295"));
    ASSERT_TRUE(window.InstallEnabled());

    window.Install();
    EXPECT_FALSE(window.InstallEnabled());
    ASSERT_TRUE(test::ProcessEventsUntil([&] { return window.LastOutcome().has_value(); }));
    EXPECT_EQ(installed.size(), GetParam().installed ? 1u : 0u);
    EXPECT_EQ(window.isVisible(), !GetParam().installed) << "installed: the window closes";
    if (!GetParam().installed) {
        EXPECT_EQ(window.StatusText().toStdString(),
                  "The download is not signed by the maker; it was not installed");
        EXPECT_TRUE(window.InstallEnabled()) << "Install is offered again";
    }
    EXPECT_TRUE(test::ListFolder(base.Path()).empty()) << "the download folder was left behind";
}

INSTANTIATE_TEST_SUITE_P(Cases, UpdateWindowRun,
                         ::testing::Values(Case{"SignedByTheMaker", "good.p7s", true},
                                           Case{"SignedBySomeoneElse", "other.p7s", false}),
                         [](const ::testing::TestParamInfo<Case>& p) {
                             return std::string(p.param.name);
                         });

}  // namespace
}  // namespace quarnel
