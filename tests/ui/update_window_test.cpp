#include "ui/update_window.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QTimer>
#include <fstream>
#include <string>
#include <vector>

#include "resources/texts.h"
#include "startup/instance.h"
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
    bool tray;  // the desktop has a tray: a balloon offers the update first
};

class UpdateWindowRun : public test::EmulatorTest, public ::testing::WithParamInterface<Case> {};

// A balloon (or, without a tray, the window) offers the published version; Install downloads,
// verifies and installs, or ends with the reason and nothing installed.
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
    operations.install = [&](const std::string& path, const std::string&) {
        installed.push_back(path);
        return DownloadOutcome::Installing;
    };
    const bool tray = GetParam().tray;
    operations.trayAvailable = [tray] { return tray; };
    UpdateWindow window(false, operations);
    window.Start();
    const std::string offered = GetLocalizedText(35206, "1.5.2.295");
    if (tray) {
        ASSERT_TRUE(test::ProcessEventsUntil([&] { return window.BalloonMessage() == offered; }));
        EXPECT_FALSE(window.isVisible()) << "the balloon offers the update; the window waits";
        window.OpenFromTray();
    }
    ASSERT_TRUE(test::ProcessEventsUntil([&] { return window.isVisible(); }));
    EXPECT_EQ(window.StatusText().toStdString(), offered);
    ASSERT_TRUE(window.InstallEnabled());

    window.Install();
    EXPECT_FALSE(window.InstallEnabled());
    ASSERT_TRUE(test::ProcessEventsUntil([&] { return window.LastOutcome().has_value(); }));
    EXPECT_EQ(installed.size(), GetParam().installed ? 1u : 0u);
    EXPECT_EQ(window.isVisible(), !GetParam().installed) << "installed: the window closes";
    if (!GetParam().installed) {
        EXPECT_EQ(window.StatusText().toStdString(),
                  LoadResourceText(DownloadOutcomeTextId(DownloadOutcome::SignatureInvalid)));
        EXPECT_TRUE(window.InstallEnabled()) << "Install is offered again";
    }
    EXPECT_TRUE(test::ListFolder(base.Path()).empty()) << "the download folder was left behind";
}

INSTANTIATE_TEST_SUITE_P(Cases, UpdateWindowRun,
                         ::testing::Values(Case{"SignedByTheMaker", "good.p7s", true, true},
                                           Case{"SignedBySomeoneElse", "other.p7s", false, false}),
                         [](const ::testing::TestParamInfo<Case>& p) {
                             return std::string(p.param.name);
                         });

// Closing the window (or /quit) while the installer's download has stalled ends the download at
// once, installs nothing and leaves no folder: no invisible process lives on.
class UpdateWindowCancel : public test::EmulatorTest {};

TEST_F(UpdateWindowCancel, QuitDuringAStalledDownloadCancelsIt) {
    test::EnsureQtApplication();
    ASSERT_TRUE(test::PointEndpointsAtEmulator(emulator_));
    const std::string package = root_.Path() + "/q.deb";
    std::ofstream(package, std::ios::binary) << std::string(20000, 'd');
    Admin("/admin/page?path=/q.deb&file=" + package);
    Admin("/admin/fault?kind=stall&ms=120000&path=/q.deb");
    Admin("/admin/software?software-version=1.5.2.295&software-download=" + HttpsUrl("/q.deb"));
    const test::TemporaryFolder base;
    bool installed = false;
    UpdateWindowOperations operations;
    operations.folderBase = base.Path();
    operations.install = [&](const std::string&, const std::string&) {
        installed = true;
        return DownloadOutcome::Installing;
    };
    operations.trayAvailable = [] { return false; };
    UpdateWindow window(false, operations);
    window.Start();
    ASSERT_TRUE(test::ProcessEventsUntil([&] { return window.InstallEnabled(); }));
    window.Install();
    ASSERT_TRUE(test::ProcessEventsUntil([&] { return LastRecord().target == "/q.deb"; }));

    window.InstanceMessage(InstanceCodeQuit);
    EXPECT_FALSE(window.isVisible());
    ASSERT_TRUE(test::ProcessEventsUntil([&] { return window.LastOutcome().has_value(); }))
        << "the stalled download kept running after the window closed";
    EXPECT_EQ(*window.LastOutcome(), DownloadOutcome::Cancelled);
    EXPECT_FALSE(installed);
    EXPECT_TRUE(test::ListFolder(base.Path()).empty()) << "the download folder was left behind";
}

// After the settings switched the channel, the running update process is told and checks the
// new channel; the same channel again changes nothing.
TEST(UpdateWindowChannel, AChangedChannelIsCheckedAgain) {
    test::EnsureQtApplication();
    std::vector<bool> checked;
    bool storedBeta = true;
    UpdateWindowOperations operations;
    operations.check = [&checked](bool beta) {
        checked.push_back(beta);
        return UpdateOffer{beta ? "1.5.3.300" : "1.5.2.295", true, ""};
    };
    operations.storedBeta = [&storedBeta] { return storedBeta; };
    operations.trayAvailable = [] { return false; };
    UpdateWindow window(false, operations);
    window.Start();
    const std::string release = GetLocalizedText(35206, "1.5.2.295");
    ASSERT_TRUE(
        test::ProcessEventsUntil([&] { return window.StatusText().toStdString() == release; }));

    window.InstanceMessage(InstanceCodeUpdateChannel);
    const std::string beta = GetLocalizedText(35206, "1.5.3.300");
    ASSERT_TRUE(
        test::ProcessEventsUntil([&] { return window.StatusText().toStdString() == beta; }));
    EXPECT_TRUE(window.Beta());
    window.InstanceMessage(InstanceCodeUpdateChannel);
    test::ProcessEventsUntil([] { return false; }, 200);
    EXPECT_EQ(checked, (std::vector<bool>{false, true}));
    window.close();
}

// Every reason the window can show has an English and a German text, and each fits the status
// line whole: it wraps within the line's width and height.
TEST(UpdateWindowTexts, EveryReasonFitsTheStatusLineInBothLanguages) {
    test::EnsureQtApplication();
    UpdateWindow window(false, UpdateWindowOperations{});
    QLabel* status = nullptr;
    for (QLabel* label : window.findChildren<QLabel*>()) {
        status = label->text() == window.StatusText() ? label : status;
    }
    ASSERT_NE(status, nullptr);
    const QFontMetrics metrics(status->font());
    for (int value = 0; value <= static_cast<int>(DownloadOutcome::Cancelled); ++value) {
        const int id = DownloadOutcomeTextId(static_cast<DownloadOutcome>(value));
        for (const Language language : {Language::English, Language::German}) {
            const QString text = QString::fromStdString(LoadResourceText(id, language));
            ASSERT_FALSE(text.isEmpty()) << id;
            const QRect needed =
                metrics.boundingRect(QRect(0, 0, status->width(), 1000), Qt::TextWordWrap, text);
            EXPECT_TRUE(status->wordWrap() && needed.height() <= status->height() &&
                        needed.width() <= status->width())
                << id << ": " << text.toStdString();
        }
    }
}

class UpdateMode : public test::EmulatorTest {};

// Without an offer (the maker's page is missing) the mode ends without ever showing a window.
TEST_F(UpdateMode, EndsUnseenWithoutAnOffer) {
    test::EnsureQtApplication();
    ASSERT_TRUE(test::PointEndpointsAtEmulator(emulator_));
    bool shown = false;
    // Bounds the run: a window that shows itself is noted and closed.
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&shown] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (widget->isVisible()) {
                shown = true;
                widget->close();
            }
        }
    });
    watch.start(50);
    EXPECT_EQ(RunUpdateWindows(false), 0);
    EXPECT_FALSE(shown);
}

}  // namespace
}  // namespace quarnel
