// The tray and the update offer on a real X display (Xvfb) with a real XEmbed notification area
// (trayer): the icon is embedded, results written the way the service writes them give balloons
// beside the icon (also when the service's key appears only after the tray started), a right
// click while a balloon shows gives the menu, the icon returns when the notification area
// restarts, /quit ends the tray; the update offer's icon and balloon open the update window when
// clicked, without a crash.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <cstddef>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "ddns/update_result.h"
#include "diagnostics/event_log.h"
#include "resources/texts.h"
#include "settings/registry.h"
#include "settings/schema.h"
#include "tests/fixtures/endpoint_overrides.h"
#include "tests/fixtures/provider_emulator.h"
#include "tests/support/child_process.h"
#include "tests/support/test_support.h"
#include "tests/ui/qt_application.h"
#include "tests/ui/virtual_desktop.h"
#include "ui/desktop_texts.h"

namespace quarnel {
namespace {

constexpr RegistryHive kHive = RegistryHive::LocalMachine;

using test::Eventually;

// The place a log line "<what> at X,Y (WxH)" names; the last such line.
std::optional<test::ScreenPlace> LoggedPlace(const std::string& what) {
    const std::string logs = test::DebugLogText();
    const std::regex line(what + " at (-?[0-9]+),(-?[0-9]+) \\(([0-9]+)x([0-9]+)\\)");
    std::optional<test::ScreenPlace> place;
    for (auto match = std::sregex_iterator(logs.begin(), logs.end(), line);
         match != std::sregex_iterator(); ++match) {
        place = test::ScreenPlace{std::stoi((*match)[1]), std::stoi((*match)[2]),
                                  std::stoi((*match)[3]), std::stoi((*match)[4])};
    }
    return place;
}

bool Logged(const std::string& text) {
    return test::DebugLogText().find(text) != std::string::npos;
}

class TrayEndToEndTest : public testing::Test {
  protected:
    void SetUp() override {
        if (const std::optional<std::string> reason = test::VirtualDesktop::Unavailable()) {
            GTEST_SKIP() << *reason;
        }
        root_ = std::make_unique<test::TemporaryFolder>();
        runtime_ = root_->Path() + "/runtime";
        ASSERT_EQ(::mkdir(runtime_.c_str(), 0700), 0);
        const std::pair<const char*, std::optional<std::string>> variables[] = {
            {"QUARNEL_ROOT", root_->Path()},
            {"XDG_RUNTIME_DIR", runtime_},
            {"LOGLEVEL", "6"},
            {"QT_QPA_PLATFORM", std::nullopt},
            {"WAYLAND_DISPLAY", std::nullopt},
            {"DBUS_SESSION_BUS_ADDRESS", std::nullopt}};
        for (const auto& [name, value] : variables) {
            environment_.push_back(std::make_unique<test::ScopedEnvironment>(name, value));
        }
        // The maker's site (the version check an administrator's tray starts) on loopback.
        ASSERT_TRUE(emulator_.Start());
        ASSERT_TRUE(test::PointEndpointsAtEmulator(emulator_));
        ASSERT_EQ(CreateRegistryKey(kHive, kSettingsKey), 1);
        ASSERT_EQ(WriteRegistryString(kHive, kSettingsKey, kValueUsername, "alice"), 1);
        suppressions_ = root_->Path() + "/desktop-library-leaks.supp";
        std::ofstream(suppressions_) << test::kDesktopLibraryLeaks;
        ASSERT_TRUE(desktop_.Start()) << desktop_.Server().Output();
        ASSERT_TRUE(desktop_.StartTrayHost());
    }

    void TearDown() override { test::StopChild(program_); }

    bool StartProgram(const std::vector<std::string>& arguments) {
        // Freed memory is overwritten, so that a window used after it was destroyed (inside its
        // own event handler) fails every time, not only when its memory was taken again.
        return program_.Start(test::ProgramPath(), arguments,
                              {{"DISPLAY", desktop_.Display()},
                               {"SSL_CERT_FILE", emulator_.CaFile()},
                               {"MALLOC_PERTURB_", "165"},
                               {"LSAN_OPTIONS", "suppressions=" + suppressions_}});
    }

    std::unique_ptr<test::TemporaryFolder> root_;
    std::string runtime_;
    std::string suppressions_;
    std::vector<std::unique_ptr<test::ScopedEnvironment>> environment_;
    test::ProviderEmulator emulator_;
    test::VirtualDesktop desktop_;
    test::ChildProcess program_;
};

TEST_F(TrayEndToEndTest, IconInTheTrayBalloonForEachAttemptMenuIconBackAfterRestartAndQuit) {
    // The service has not run yet: its key does not exist when the tray starts.
    ASSERT_TRUE(StartProgram({}));
    ASSERT_TRUE(Eventually([] {
        return LoggedPlace("Tray icon shown in the notification area").has_value();
    })) << test::DebugLogText()
        << program_.Output();
    const test::ScreenPlace icon = *LoggedPlace("Tray icon shown in the notification area");

    // The first result, then an attempt that got no answer, in the order the service writes its
    // values: the balloon tells the attempt, not the request answered before.
    ASSERT_EQ(CreateRegistryKey(kHive, kServiceKey), 1);
    WriteRegistryDword(kHive, kServiceKey, kValueTime, 1'700'000'000);
    WriteRegistryDword(kHive, kServiceKey, kValueLimit, 0);
    WriteRegistryString(kHive, kServiceKey, kValueResult, "good 203.0.113.40");
    WriteRegistryString(kHive, kServiceKey, kValueIp, "203.0.113.40");
    WriteRegistryDword(kHive, kServiceKey, kValueAttemptTime, 1'700'000'000);
    WriteRegistryString(kHive, kServiceKey, kValueAttemptResult, "good 203.0.113.40");
    WriteRegistryDword(kHive, kServiceKey, kValueEventType, 4);
    WriteRegistryDword(kHive, kServiceKey, kValueEventId, kEventRecordIdInformation);
    EXPECT_TRUE(Eventually([] {
        return Logged("Balloon shown: " + LoadResourceText(105) + " - " +
                      GetResultMessage("good", "203.0.113.40"));
    })) << test::DebugLogText();
    WriteRegistryDword(kHive, kServiceKey, kValueAttemptTime, 1'700'003'600);
    WriteRegistryString(kHive, kServiceKey, kValueAttemptResult, "!noanswer");
    WriteRegistryDword(kHive, kServiceKey, kValueEventType, 1);
    WriteRegistryDword(kHive, kServiceKey, kValueEventId, kEventRecordIdError);
    EXPECT_TRUE(Eventually([] {
        return Logged("Balloon shown: " + LoadResourceText(107) + " - " +
                      GetResultMessage("!noanswer", ""));
    })) << test::DebugLogText();
    // Beside the icon, not in a corner of the screen.
    const std::optional<test::ScreenPlace> balloon = LoggedPlace("Balloon shown at the icon");
    ASSERT_TRUE(balloon.has_value());
    EXPECT_EQ(balloon->x, icon.x);
    EXPECT_EQ(balloon->y, icon.y);

    // A right click on the icon while the balloon shows opens the menu, not the settings.
    ASSERT_TRUE(desktop_.Click(icon, 3));
    EXPECT_TRUE(Eventually([] { return Logged("Showing the popup menu"); }))
        << test::DebugLogText();
    ASSERT_TRUE(desktop_.Xdotool({"key", "Escape"}));

    // The panel restarts: the icon goes into the new notification area.
    desktop_.StopTrayHost();
    ASSERT_TRUE(Eventually([&] { return Logged("The notification area has gone"); }))
        << test::DebugLogText();
    ASSERT_TRUE(desktop_.StartTrayHost());
    EXPECT_TRUE(Eventually([&] {
        const std::string logs = test::DebugLogText();
        const std::string shown = "Tray icon shown in the notification area";
        const std::size_t first = logs.find(shown);
        return first != std::string::npos && logs.find(shown, first + 1) != std::string::npos;
    })) << test::DebugLogText();
    desktop_.StopTrayHost();

    EXPECT_EQ(test::RunProgram({"/quit"}, {}).exitCode, 1);
    EXPECT_EQ(program_.Wait(), 0) << program_.Output();
    EXPECT_FALSE(Logged("ThreadSettingMain")) << "the right click opened the settings";
}

// A click on the offer's icon, and one on its balloon, each while the balloon shows: the update
// window opens, and the process lives on.
TEST_F(TrayEndToEndTest, TheUpdateOffersIconAndBalloonOpenTheWindow) {
    emulator_.Admin("/admin/software?software-version=1.5.2.295");
    const std::string title = LoadResourceText(100) + " - " + LoadResourceText(35200);
    for (const bool onBalloon : {false, true}) {
        SCOPED_TRACE(onBalloon ? "balloon" : "icon");
        const std::size_t balloonsBefore = test::DebugLogText().size();
        ASSERT_TRUE(StartProgram({"/update"}));
        ASSERT_TRUE(Eventually([&] {
            return test::DebugLogText().find("Balloon shown at the icon", balloonsBefore) !=
                   std::string::npos;
        })) << test::DebugLogText()
            << program_.Output();
        const test::ScreenPlace icon = *LoggedPlace("Balloon shown at the icon");
        // The notification area has placed the icon before the balloon shows.
        EXPECT_NE(icon.x, 0);
        test::ScreenPlace target = icon;
        // The balloon: the update process's visible window below the icon, wider than it.
        const auto balloon = [&] {
            for (const test::ScreenPlace& place : desktop_.WindowPlacesOf(program_.Pid())) {
                if (place.y > icon.y && place.width > 2 * icon.width) {
                    target = place;
                    return true;
                }
            }
            return false;
        };
        ASSERT_TRUE(!onBalloon || Eventually(balloon));
        ASSERT_TRUE(desktop_.Click(target, 1));
        EXPECT_TRUE(desktop_.FindWindow(title, 0, 20000).has_value())
            << program_.Output() << test::DebugLogText().substr(balloonsBefore);
        EXPECT_EQ(program_.Wait(1000), -1) << "the update process ended: " << program_.Output();
        EXPECT_FALSE(desktop_.FindWindow("Application Error", 0, 1000).has_value());
        test::StopChild(program_);
    }
}

}  // namespace
}  // namespace quarnel
