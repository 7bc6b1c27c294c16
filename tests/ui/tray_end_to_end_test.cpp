// The tray on a real X display (Xvfb) with a real XEmbed notification area (trayer): the icon is
// embedded, a result written the way the service writes it gives a balloon, the icon returns when
// the notification area restarts, /quit ends the tray.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <regex>
#include <thread>

#include "diagnostics/event_log.h"
#include "resources/texts.h"
#include "settings/registry.h"
#include "settings/schema.h"
#include "tests/support/child_process.h"
#include "tests/support/test_support.h"
#include "tests/ui/qt_application.h"

namespace quarnel {
namespace {

constexpr RegistryHive kHive = RegistryHive::LocalMachine;
constexpr const char* kXvfb = "/usr/bin/Xvfb";
constexpr const char* kTrayer = "/usr/bin/trayer";

bool Eventually(const std::function<bool()>& condition, int timeoutMs = 20000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

class TrayEndToEndTest : public testing::Test {
  protected:
    void SetUp() override {
#if defined(__SANITIZE_ADDRESS__)
        // The windows' own code runs under the sanitizers in the offscreen tests; here Qt, the X
        // server and the tray host slow down past what a user would wait for.
        GTEST_SKIP() << "the desktop end-to-end tests run in the normal build only";
#endif
        if (::access(kXvfb, X_OK) != 0 || ::access(kTrayer, X_OK) != 0) {
            GTEST_SKIP() << "Xvfb or trayer is not installed (scripts/install-deps installs them)";
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

    void TearDown() override {
        for (test::ChildProcess* child : {&tray_, &trayer_, &xvfb_}) {
            if (child->Pid() > 0) {
                child->Signal(SIGTERM);
                if (child->Wait(5000) == -1) {
                    child->Signal(SIGKILL);
                    child->Wait(5000);
                }
            }
        }
    }

    // Starts Xvfb on a display number of its own choice and returns ":<number>".
    std::string StartDisplay() {
        if (!xvfb_.Start(kXvfb,
                         {"-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "640x480x24"})) {
            return {};
        }
        std::smatch match;
        const std::regex number("(^|\n)([0-9]+)\n");
        for (int i = 0; i < 100; ++i) {
            xvfb_.WaitForLine("\x01", 100);  // reads what has arrived
            const std::string output = xvfb_.Output();
            if (std::regex_search(output, match, number)) {
                return ":" + match[2].str();
            }
        }
        return {};
    }

    std::string DebugLogs() const {
        std::string text;
        const std::string folder = root_->Path() + "/var/log/quarnel-updater";
        for (const std::string& name : test::ListFolder(folder)) {
            text += test::ReadFileText(folder + "/" + name);
        }
        return text;
    }

    std::unique_ptr<test::TemporaryFolder> root_;
    std::vector<std::unique_ptr<test::ScopedEnvironment>> environment_;
    test::ChildProcess xvfb_;
    test::ChildProcess trayer_;
    test::ChildProcess tray_;
};

TEST_F(TrayEndToEndTest, IconInTheTrayBalloonForEachResultIconBackAfterRestartAndQuit) {
    ASSERT_EQ(CreateRegistryKey(kHive, kSettingsKey), 1);
    ASSERT_EQ(WriteRegistryString(kHive, kSettingsKey, kValueUsername, "alice"), 1);
    ASSERT_EQ(CreateRegistryKey(kHive, kServiceKey), 1);

    const std::string display = StartDisplay();
    ASSERT_FALSE(display.empty()) << xvfb_.Output();
    ASSERT_TRUE(trayer_.Start(kTrayer, {"--edge", "top", "--widthtype", "request"},
                              {{"DISPLAY", display}}));
    const std::string suppressions = root_->Path() + "/desktop-library-leaks.supp";
    std::ofstream(suppressions) << test::kDesktopLibraryLeaks;
    ASSERT_TRUE(
        tray_.Start(test::ProgramPath(), {},
                    {{"DISPLAY", display}, {"LSAN_OPTIONS", "suppressions=" + suppressions}}));
    ASSERT_TRUE(Eventually([&] {
        return DebugLogs().find("Tray icon shown in the notification area") != std::string::npos;
    })) << DebugLogs()
        << tray_.Output();

    // The values in the order the service writes them.
    WriteRegistryDword(kHive, kServiceKey, kValueTime, 1'700'000'000);
    WriteRegistryDword(kHive, kServiceKey, kValueLimit, 0);
    WriteRegistryString(kHive, kServiceKey, kValueResult, "good 203.0.113.5");
    WriteRegistryDword(kHive, kServiceKey, kValueEventId, kEventRecordIdInformation);
    EXPECT_TRUE(Eventually([&] {
        return DebugLogs().find("Balloon shown: " + LoadResourceText(105)) != std::string::npos;
    })) << DebugLogs();

    // The panel restarts: the icon goes into the new notification area.
    trayer_.Signal(SIGTERM);
    trayer_.Wait(5000);
    ASSERT_TRUE(Eventually([&] {
        return DebugLogs().find("The notification area has gone") != std::string::npos;
    })) << DebugLogs();
    test::ChildProcess restarted;
    ASSERT_TRUE(restarted.Start(kTrayer, {"--edge", "top", "--widthtype", "request"},
                                {{"DISPLAY", display}}));
    EXPECT_TRUE(Eventually([&] {
        const std::string logs = DebugLogs();
        const std::string shown = "Tray icon shown in the notification area";
        const std::size_t first = logs.find(shown);
        return first != std::string::npos && logs.find(shown, first + 1) != std::string::npos;
    })) << DebugLogs();
    restarted.Signal(SIGTERM);
    restarted.Wait(5000);

    EXPECT_EQ(test::RunProgram({"/quit"}, {}).exitCode, 1);
    EXPECT_EQ(tray_.Wait(), 0) << tray_.Output();
}

}  // namespace
}  // namespace quarnel
