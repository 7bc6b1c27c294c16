// The crash window under the offscreen platform: its texts, the progress it shows, and a send
// to the provider emulator's issue tracker with the answer's message.

#include "ui/crash_window.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "ddns/crash_upload.h"
#include "tests/fixtures/endpoint_overrides.h"
#include "tests/fixtures/provider_emulator.h"
#include "tests/fixtures/request_record.h"
#include "tests/support/test_support.h"
#include "tests/ui/qt_application.h"

namespace quarnel {
namespace {

constexpr const char* kReport = "A critical program error was detected:\r\n\r\nError Code:      -1";

TEST(CrashWindowTest, ShowsTheReportWithItsTexts) {
    test::EnsureQtApplication();
    CrashWindow window(kReport, [](const HttpProgressCallback&) { return std::string(); });
    EXPECT_EQ(window.windowTitle().toStdString(), "Application Error");
    EXPECT_EQ(window.SendButton()->text().toStdString(), "Send Crash Report");
    EXPECT_TRUE(window.SendButton()->isEnabled());
    EXPECT_GE(window.SendButton()->width(), window.SendButton()->sizeHint().width());
    EXPECT_TRUE(window.StatusText()->text().isEmpty());
    EXPECT_EQ(window.Progress()->maximum(), 100);
    EXPECT_EQ(window.Progress()->value(), 0);
    EXPECT_EQ(window.Editor()->toPlainText().toStdString(),
              QString(kReport).replace("\r\n", "\n").toStdString());
    EXPECT_TRUE(window.Editor()->isReadOnly());
    EXPECT_EQ(window.size(), QSize(400, 390));
}

TEST(CrashWindowTest, ProgressIsShownForTheWindowsContextOnly) {
    test::EnsureQtApplication();
    CrashWindow window(kReport, [](const HttpProgressCallback&) { return std::string(); });
    window.OnCrashReportProgress(7, 5, 10);
    EXPECT_EQ(window.Progress()->maximum(), 100);
    window.OnCrashReportProgress(kCrashWindowId, 5, 10);
    EXPECT_EQ(window.Progress()->maximum(), 10);
    EXPECT_EQ(window.Progress()->value(), 5);
    EXPECT_TRUE(window.StatusText()->text().isEmpty());
    window.OnCrashReportProgress(kCrashWindowId, 10, 10);
    EXPECT_EQ(window.StatusText()->text().toStdString(), "Finished sending crash report");
    EXPECT_EQ(window.Progress()->maximum(), 0);  // the moving display
}

TEST(CrashWindowTest, TheTrackersAnswerDecidesTheSuccessMessage) {
    const struct {
        const char* answer;
        bool accepted;
    } cases[] = {
        {"HTTP/1.1 201 Created\r\nContent-Type: application/xml\r\n\r\n", true},
        {"HTTP/1.1 200 OK\r\nStatus: 201 Created\r\n\r\n", true},
        {"HTTP/1.1 422 Unprocessable Entity\r\nStatus: 422\r\n\r\n", false},
        {"HTTP/1.1 2010 Odd\r\n\r\n", false},
        {"", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsCrashReportAccepted(c.answer), c.accepted) << c.answer;
    }
}

class CrashWindowSendTest : public ::testing::Test {
  protected:
    void SetUp() override {
        test::EnsureQtApplication();
        ASSERT_TRUE(emulator_.Start());
        ASSERT_TRUE(test::SetEndpointOverride(
            Endpoint::IssueTracker, "127.0.0.1:" + std::to_string(emulator_.HttpsPort())));
        certificates_.emplace("SSL_CERT_FILE", emulator_.CaFile());
    }

    test::TemporaryFolder root_;
    test::ScopedEnvironment rootEnvironment_{"QUARNEL_ROOT", root_.Path()};
    test::ProviderEmulator emulator_;
    std::optional<test::ScopedEnvironment> certificates_;
};

TEST_F(CrashWindowSendTest, SendPostsTheReportAndClosesWithTheSuccessMessage) {
    int notices = 0;
    CrashWindow window(
        kReport,
        [](const HttpProgressCallback& onProgress) { return SendCrashReport(kReport, onProgress); },
        [&notices](QWidget*) { ++notices; });
    window.show();
    window.SendButton()->click();
    EXPECT_FALSE(window.SendButton()->isEnabled());
    EXPECT_EQ(window.StatusText()->text().toStdString(), "Sending crash report ...");
    ASSERT_TRUE(test::ProcessEventsUntil([&] { return !window.isVisible(); }));
    EXPECT_EQ(notices, 1);

    std::vector<test::RequestRecord> issues;
    for (const test::RequestRecord& record : test::ParseRequestRecords(emulator_.Requests())) {
        if (record.target == "/issues.xml") {
            issues.push_back(record);
        }
    }
    ASSERT_EQ(issues.size(), 1u);
    EXPECT_NE(issues[0].body.find(kReport), std::string::npos);
}

TEST_F(CrashWindowSendTest, NoAnswerSaysSoAndLeavesTheReportToCopy) {
    emulator_.Stop();
    std::atomic<bool> answered = false;
    CrashWindow window(
        kReport,
        [&answered](const HttpProgressCallback& onProgress) {
            std::string answer = SendCrashReport(kReport, onProgress);
            answered = true;
            return answer;
        },
        [](QWidget*) { ADD_FAILURE() << "no success message without an answer"; });
    window.show();
    window.SendButton()->click();
    ASSERT_TRUE(test::ProcessEventsUntil([&] { return answered.load(); }));
    // The window says that the report was not sent, and offers it for copying.
    ASSERT_TRUE(test::ProcessEventsUntil([&] {
        return window.StatusText()->text().toStdString() == "The crash report could not be sent";
    }));
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(window.SendButton()->isEnabled());
    EXPECT_EQ(window.Editor()->textCursor().selectedText().size(),
              window.Editor()->toPlainText().size());
}

}  // namespace
}  // namespace quarnel
