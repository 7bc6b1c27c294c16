#include "ui/systray_window.h"

#include <gtest/gtest.h>

#include <QAction>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "ddns/update_result.h"
#include "diagnostics/event_log.h"
#include "platform/global_handles.h"
#include "resources/texts.h"
#include "tests/ui/qt_application.h"
#include "ui/desktop_texts.h"
#include "ui/settings_window.h"

namespace quarnel {
namespace {

// A tray whose outside operations are recorded instead of run.
class SystrayWindowTest : public testing::Test {
  protected:
    void SetUp() override {
        test::EnsureQtApplication();
        operations_.launchSettings = [this] {
            ++settingsOpened_;
            return settingsStart_;
        };
        operations_.reportFailure = [this](const std::string& text) { failures_.push_back(text); };
        operations_.gatewayAddress = [this] { return gateway_; };
        operations_.openUrl = [this](const std::string& url) { openedUrls_.push_back(url); };
        operations_.readHistory = [] { return std::vector<HistoryEntry>{}; };
        operations_.detections = {[] { return std::string("203.0.113.5"); },
                                  [] { return std::string("203.0.113.6"); },
                                  [] { return std::string(); }};
    }

    std::unique_ptr<SystrayWindow> OpenTray(int balloonTimeoutMs = 30000) {
        auto tray = std::make_unique<SystrayWindow>(operations_, balloonTimeoutMs);
        EXPECT_TRUE(tray->Open());
        return tray;
    }

    SystrayOperations operations_;
    int settingsOpened_ = 0;
    bool settingsStart_ = true;
    std::vector<std::string> failures_;
    std::string gateway_;
    std::vector<std::string> openedUrls_;
};

ServiceResult Result(const char* text, std::uint32_t eventId, std::int64_t limit = 0) {
    ServiceResult result;
    result.time = 1'700'000'000;
    result.result = text;
    result.eventId = eventId;
    result.limit = limit;
    return result;
}

TEST_F(SystrayWindowTest, MenuEntriesOrderTextsAndDefault) {
    const auto tray = OpenTray();
    const QList<QAction*> actions = tray->Menu().actions();
    // Command id and text id; 0 is a separator.
    const std::pair<int, int> expected[] = {{1, 125}, {0, 0}, {2, 126}, {3, 152},
                                            {4, 127}, {0, 0}, {5, 128}};
    ASSERT_EQ(actions.size(), static_cast<qsizetype>(std::size(expected)));
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        const QAction* action = actions[static_cast<qsizetype>(i)];
        if (expected[i].first == 0) {
            EXPECT_TRUE(action->isSeparator()) << i;
            continue;
        }
        EXPECT_EQ(action->data().toInt(), expected[i].first);
        EXPECT_EQ(action->text().toStdString(), LoadResourceText(expected[i].second));
    }
    EXPECT_EQ(tray->Menu().defaultAction(), actions[0]);
    EXPECT_EQ(tray->TraySlot(), SlotTrayNormal);
    EXPECT_FALSE(tray->Images()[SlotTrayNormal].isNull());
    EXPECT_EQ(tray->Images()[SlotTrayError].width(), 16);
    EXPECT_TRUE(tray->Images()[9].isNull());
}

TEST_F(SystrayWindowTest, RouterEntryFollowsTheGatewayAndOpensItsPage) {
    const auto tray = OpenTray();
    const struct {
        const char* gateway;
        bool enabled;
    } cases[] = {{"", false}, {"198.51.100.1", true}, {"", false}};
    for (const auto& c : cases) {
        gateway_ = c.gateway;
        tray->PrepareMenu();
        EXPECT_EQ(tray->Menu().actions()[4]->isEnabled(), c.enabled) << c.gateway;
    }
    gateway_ = "198.51.100.1";
    tray->ChooseEntry(EntryRouter);
    ASSERT_EQ(openedUrls_.size(), 1u);
    EXPECT_EQ(openedUrls_[0], "http://198.51.100.1");
}

struct BalloonCase {
    const char* name;
    const char* result;
    std::uint32_t eventId;
    std::int64_t limit;
    int traySlot;     // the icon while the balloon shows
    int titleTextId;  // 0: no balloon
    BalloonKind kind;
    const char* code;  // the message is ResultMessage(code, parameter)
    const char* parameter;
};

const BalloonCase kBalloonCases[] = {
    {"GoodIsInformation", "good 203.0.113.5", kEventRecordIdInformation, 0, SlotTrayInformation,
     105, BalloonKind::Information, "good", "203.0.113.5"},
    {"UpperCaseCode", "NOCHG 203.0.113.5", kEventRecordIdInformation, 0, SlotTrayInformation, 105,
     BalloonKind::Information, "nochg", "203.0.113.5"},
    {"WarningId", "nohost 203.0.113.5", kEventRecordIdWarning, 0, SlotTrayWarning, 106,
     BalloonKind::Warning, "nohost", "203.0.113.5"},
    {"UnknownCodeKeepsItsId", "xyz", kEventRecordIdWarning, 0, SlotTrayWarning, 106,
     BalloonKind::Warning, "!unknown", "xyz"},
    {"EmptyResult", "", kEventRecordIdError, 0, SlotTrayError, 107, BalloonKind::Error, "!empty",
     ""},
    {"OtherIdIsError", "good 203.0.113.5", 0x12345, 0, SlotTrayError, 107, BalloonKind::Error,
     "good", "203.0.113.5"},
    {"LimitShowsNothing", "nochg 203.0.113.5", kEventRecordIdInformation, 1, SlotTrayNormal, 0,
     BalloonKind::Information, "", ""},
    {"NoAnswer", "!noanswer", kEventRecordIdError, 0, SlotTrayError, 107, BalloonKind::Error,
     "!noanswer", ""},
};

// Test names and failure messages show the case by its name.
void PrintTo(const BalloonCase& c, std::ostream* out) {
    *out << c.name;
}

class BalloonChoiceTest : public SystrayWindowTest,
                          public testing::WithParamInterface<BalloonCase> {};

TEST_P(BalloonChoiceTest, IconTitleAndMessagePerResult) {
    const BalloonCase& c = GetParam();
    const auto tray = OpenTray();
    tray->ShowResult(Result(c.result, c.eventId, c.limit));
    EXPECT_EQ(tray->TraySlot(), c.traySlot);
    if (c.titleTextId == 0) {
        EXPECT_EQ(tray->PendingBalloons(), 0);
        EXPECT_TRUE(tray->LastBalloon().title.empty());
        return;
    }
    EXPECT_EQ(tray->PendingBalloons(), 1);
    EXPECT_EQ(tray->LastBalloon().title, LoadResourceText(c.titleTextId));
    EXPECT_EQ(tray->LastBalloon().message, ResultMessage(c.code, c.parameter));
    EXPECT_FALSE(tray->LastBalloon().message.empty());
    EXPECT_EQ(tray->LastBalloon().kind, c.kind);
    EXPECT_EQ(tray->LastBalloon().timeoutSeconds, 30);
}

INSTANTIATE_TEST_SUITE_P(Results, BalloonChoiceTest, testing::ValuesIn(kBalloonCases),
                         [](const auto& param) { return std::string(param.param.name); });

TEST_F(SystrayWindowTest, IconStaysUntilTheLastBalloonIsGone) {
    const auto tray = OpenTray(50);
    tray->ShowResult(Result("good 203.0.113.5", kEventRecordIdInformation));
    tray->ShowResult(Result("badauth 203.0.113.5", kEventRecordIdError));
    EXPECT_EQ(tray->PendingBalloons(), 2);
    EXPECT_EQ(tray->TraySlot(), SlotTrayError);
    EXPECT_EQ(globalHandles.pendingBalloons.load(), 2);
    // Both time out; the normal icon comes back once none is left.
    ASSERT_TRUE(test::ProcessEventsUntil([&] { return tray->PendingBalloons() == 0; }));
    EXPECT_EQ(tray->TraySlot(), SlotTrayNormal);
}

TEST_F(SystrayWindowTest, ClickedBalloonOpensSettingsAndRestoresWhenNoneIsLeft) {
    const auto tray = OpenTray();
    tray->ShowResult(Result("good 203.0.113.5", kEventRecordIdInformation));
    tray->ShowResult(Result("nochg 203.0.113.5", kEventRecordIdWarning));
    emit tray->TrayIcon().messageClicked();
    ASSERT_TRUE(test::ProcessEventsUntil([&] { return settingsOpened_ == 1; }));
    EXPECT_EQ(tray->PendingBalloons(), 1);
    EXPECT_EQ(tray->TraySlot(), SlotTrayWarning);
    emit tray->TrayIcon().messageClicked();
    ASSERT_TRUE(test::ProcessEventsUntil([&] { return settingsOpened_ == 2; }));
    EXPECT_EQ(tray->PendingBalloons(), 0);
    EXPECT_EQ(tray->TraySlot(), SlotTrayNormal);
}

// Qt reports a click on the icon while a balloon shows as a balloon click first, then as the
// icon's activation with its button: the right button gives the menu only, the left one the
// settings once.
TEST_F(SystrayWindowTest, AClickOnTheIconWhileABalloonShowsIsNoBalloonClick) {
    const auto tray = OpenTray();
    const struct {
        QSystemTrayIcon::ActivationReason reason;
        int opened;
    } clicks[] = {{QSystemTrayIcon::Context, 0}, {QSystemTrayIcon::Trigger, 1}};
    for (const auto& click : clicks) {
        settingsOpened_ = 0;
        tray->ShowResult(Result("good 203.0.113.5", kEventRecordIdInformation));
        emit tray->TrayIcon().messageClicked();
        emit tray->TrayIcon().activated(click.reason);
        ASSERT_TRUE(test::ProcessEventsUntil([&] { return tray->PendingBalloons() == 0; }));
        test::ProcessEventsUntil([] { return false; }, 50);
        EXPECT_EQ(settingsOpened_, click.opened) << click.reason;
        EXPECT_EQ(tray->TraySlot(), SlotTrayNormal);
    }
}

// A settings window that cannot be started (no pkexec) is told to the user.
TEST_F(SystrayWindowTest, SettingsThatCannotBeStartedAreTold) {
    settingsStart_ = false;
    const auto tray = OpenTray();
    emit tray->TrayIcon().activated(QSystemTrayIcon::Trigger);
    ASSERT_EQ(failures_.size(), 1u);
    EXPECT_EQ(failures_[0], GetDesktopText(DesktopText::SettingsUnavailable));
}

// A minimized window comes back when it is asked for again: the history and diagnose windows by
// their menu entries, the settings window by the instance code 2 (a tray click, a second
// /setting).
TEST_F(SystrayWindowTest, MinimizedWindowsComeBackWhenAskedForAgain) {
    const auto tray = OpenTray();
    tray->ChooseEntry(EntryHistory);
    tray->ChooseEntry(EntryDiagnose);
    SettingsWindow settings(SettingsForm{}, SettingsWindowSetup{}, SettingsWindowOperations{});
    settings.show();
    const std::pair<QWidget*, std::function<void()>> windows[] = {
        {tray->History(), [&] { tray->ChooseEntry(EntryHistory); }},
        {tray->Diagnose(), [&] { tray->ChooseEntry(EntryDiagnose); }},
        {&settings, [&] { settings.InstanceMessage(2); }}};
    for (const auto& [window, askAgain] : windows) {
        window->showMinimized();
        ASSERT_TRUE(window->isMinimized());
        askAgain();
        EXPECT_FALSE(window->isMinimized()) << window->windowTitle().toStdString();
        EXPECT_TRUE(window->isVisible());
        // The program's windows have a fixed size.
        EXPECT_EQ(window->minimumSize(), window->maximumSize());
    }
}

TEST_F(SystrayWindowTest, IconClicksAndInstanceCodes) {
    const auto tray = OpenTray();
    const struct {
        QSystemTrayIcon::ActivationReason reason;
        int opened;
    } clicks[] = {{QSystemTrayIcon::Trigger, 1},
                  {QSystemTrayIcon::DoubleClick, 2},
                  {QSystemTrayIcon::Context, 2},
                  {QSystemTrayIcon::MiddleClick, 2}};
    for (const auto& click : clicks) {
        emit tray->TrayIcon().activated(click.reason);
        EXPECT_EQ(settingsOpened_, click.opened) << click.reason;
    }
    tray->InstanceMessage(2);
    EXPECT_EQ(settingsOpened_, 2);
    tray->InstanceMessage(0);
    EXPECT_EQ(settingsOpened_, 3);
    EXPECT_FALSE(tray->Closed());
    tray->InstanceMessage(1);
    EXPECT_TRUE(tray->Closed());
}

TEST_F(SystrayWindowTest, HistoryKeepsLiveLinesAboveWhatTheFillerReads) {
    std::promise<void> liveLinesAdded;
    std::shared_future<void> released = liveLinesAdded.get_future().share();
    operations_.readHistory = [released] {
        // The filler reads while results arrive.
        released.wait();
        return std::vector<HistoryEntry>{{"[2023-11-14 22:00:00] nochg 203.0.113.5", 0},
                                         {"[2023-11-14 21:00:00] badauth 203.0.113.5", 3}};
    };
    const auto tray = OpenTray();
    tray->ShowResult(Result("good 203.0.113.6", kEventRecordIdInformation, 1));
    tray->ChooseEntry(EntryHistory);
    ASSERT_NE(tray->History(), nullptr);
    tray->ShowResult(Result("good 203.0.113.7", kEventRecordIdInformation, 1));
    tray->ShowResult(Result("nohost 203.0.113.7", kEventRecordIdWarning, 1));
    liveLinesAdded.set_value();
    ASSERT_TRUE(test::ProcessEventsUntil([&] { return tray->History()->FillerDone(); }));

    const QTreeWidget& list = tray->History()->List();
    const std::vector<std::string> expected = {
        "[2023-11-14 22:13:20] nohost 203.0.113.7", "[2023-11-14 22:13:20] good 203.0.113.7",
        "[2023-11-14 22:00:00] nochg 203.0.113.5", "[2023-11-14 21:00:00] badauth 203.0.113.5"};
    ASSERT_EQ(list.topLevelItemCount(), static_cast<int>(expected.size()));
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(list.topLevelItem(static_cast<int>(i))->text(0).toStdString(), expected[i]);
    }
    EXPECT_EQ(tray->History()->size(), QSize(400, 300));
    EXPECT_EQ(tray->History()->windowTitle().toStdString(), LoadResourceText(150));
    // A second request keeps the open window.
    HistoryWindow* open = tray->History();
    tray->ChooseEntry(EntryHistory);
    EXPECT_EQ(tray->History(), open);
}

TEST_F(SystrayWindowTest, DiagnoseShowsTheThreeDetections) {
    const auto tray = OpenTray();
    tray->ChooseEntry(EntryDiagnose);
    DiagnoseWindow* diagnose = tray->Diagnose();
    ASSERT_NE(diagnose, nullptr);
    ASSERT_TRUE(test::ProcessEventsUntil([&] { return diagnose->Answered() == 3; }));
    const std::pair<int, std::string> labels[] = {{0, LoadResourceText(153)},
                                                  {1, LoadResourceText(155)},
                                                  {2, "203.0.113.5"},
                                                  {3, LoadResourceText(156)},
                                                  {4, "203.0.113.6"},
                                                  {5, LoadResourceText(157)},
                                                  {6, ""}};
    for (const auto& [index, text] : labels) {
        EXPECT_EQ(diagnose->Label(index).text().toStdString(), text) << index;
    }
    EXPECT_EQ(diagnose->Label(4).geometry(), QRect(110, 50, 100, 20));
    // No text is cut off, whatever the desktop's font.
    EXPECT_GE(diagnose->Label(0).width(), diagnose->Label(0).sizeHint().width());
    EXPECT_GT(diagnose->width(), diagnose->Label(0).geometry().right());
    EXPECT_EQ(diagnose->windowTitle().toStdString(), LoadResourceText(151));
}

}  // namespace
}  // namespace quarnel
