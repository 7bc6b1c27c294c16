// The tray on a real X display (Xvfb) with a real XEmbed notification area (trayer): the icon is
// embedded, a result written the way the service writes it gives a balloon, the icon returns when
// the notification area restarts, /quit ends the tray.

#include <gtest/gtest.h>

#include <chrono>
#include <cstddef>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "diagnostics/event_log.h"
#include "resources/texts.h"
#include "settings/registry.h"
#include "settings/schema.h"
#include "tests/support/child_process.h"
#include "tests/support/test_support.h"
#include "tests/ui/qt_application.h"
#include "tests/ui/virtual_desktop.h"

namespace quarnel {
namespace {

constexpr RegistryHive kHive = RegistryHive::LocalMachine;

using test::Eventually;

class TrayEndToEndTest : public testing::Test {
  protected:
    void SetUp() override {
        if (const std::optional<std::string> reason = test::VirtualDesktop::Unavailable()) {
            GTEST_SKIP() << *reason;
        }
        root_ = std::make_unique<test::TemporaryFolder>();
        const std::pair<const char*, std::optional<std::string>> variables[] = {
            {"QUARNEL_ROOT", root_->Path()},
            {"XDG_RUNTIME_DIR", "/run/tray-e2e"},
            {"LOGLEVEL", "6"},
            {"QT_QPA_PLATFORM", std::nullopt},
            {"WAYLAND_DISPLAY", std::nullopt},
            {"DBUS_SESSION_BUS_ADDRESS", std::nullopt}};
        for (const auto& [name, value] : variables) {
            environment_.push_back(std::make_unique<test::ScopedEnvironment>(name, value));
        }
    }

    void TearDown() override { test::StopChild(tray_); }

    std::unique_ptr<test::TemporaryFolder> root_;
    std::vector<std::unique_ptr<test::ScopedEnvironment>> environment_;
    test::VirtualDesktop desktop_;
    test::ChildProcess tray_;
};

TEST_F(TrayEndToEndTest, IconInTheTrayBalloonForEachResultIconBackAfterRestartAndQuit) {
    ASSERT_EQ(CreateRegistryKey(kHive, kSettingsKey), 1);
    ASSERT_EQ(WriteRegistryString(kHive, kSettingsKey, kValueUsername, "alice"), 1);
    ASSERT_EQ(CreateRegistryKey(kHive, kServiceKey), 1);

    ASSERT_TRUE(desktop_.Start()) << desktop_.Server().Output();
    ASSERT_TRUE(desktop_.StartTrayHost());
    const std::string suppressions = root_->Path() + "/desktop-library-leaks.supp";
    std::ofstream(suppressions) << test::kDesktopLibraryLeaks;
    ASSERT_TRUE(tray_.Start(
        test::ProgramPath(), {},
        {{"DISPLAY", desktop_.Display()}, {"LSAN_OPTIONS", "suppressions=" + suppressions}}));
    ASSERT_TRUE(Eventually([&] {
        return test::DebugLogText().find("Tray icon shown in the notification area") !=
               std::string::npos;
    })) << test::DebugLogText()
        << tray_.Output();

    // The values in the order the service writes them.
    WriteRegistryDword(kHive, kServiceKey, kValueTime, 1'700'000'000);
    WriteRegistryDword(kHive, kServiceKey, kValueLimit, 0);
    WriteRegistryString(kHive, kServiceKey, kValueResult, "good 203.0.113.5");
    WriteRegistryDword(kHive, kServiceKey, kValueEventId, kEventRecordIdInformation);
    EXPECT_TRUE(Eventually([&] {
        return test::DebugLogText().find("Balloon shown: " + LoadResourceText(105)) !=
               std::string::npos;
    })) << test::DebugLogText();

    // The panel restarts: the icon goes into the new notification area.
    desktop_.StopTrayHost();
    ASSERT_TRUE(Eventually([&] {
        return test::DebugLogText().find("The notification area has gone") != std::string::npos;
    })) << test::DebugLogText();
    ASSERT_TRUE(desktop_.StartTrayHost());
    EXPECT_TRUE(Eventually([&] {
        const std::string logs = test::DebugLogText();
        const std::string shown = "Tray icon shown in the notification area";
        const std::size_t first = logs.find(shown);
        return first != std::string::npos && logs.find(shown, first + 1) != std::string::npos;
    })) << test::DebugLogText();
    desktop_.StopTrayHost();

    EXPECT_EQ(test::RunProgram({"/quit"}, {}).exitCode, 1);
    EXPECT_EQ(tray_.Wait(), 0) << tray_.Output();
}

}  // namespace
}  // namespace quarnel
