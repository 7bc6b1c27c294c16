// The settings window on a real X display (Xvfb), opened from the tray icon in a real
// notification area (trayer) and driven from outside with xdotool as a user would, against the
// real service in the foreground and the provider emulator: a new account, interval and provider
// and a ticked local network filter that lists this network, confirmed with OK, are stored, the
// service sends an update with the new account at once, and the tray opens the settings again.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "ddns/provider_update.h"
#include "libraries/src/service/unit_file.h"
#include "platform/paths.h"
#include "platform/product.h"
#include "settings/identity.h"
#include "settings/protection.h"
#include "settings/registry.h"
#include "settings/schema.h"
#include "tests/fixtures/provider_emulator.h"
#include "tests/fixtures/request_record.h"
#include "tests/fixtures/service_account.h"
#include "tests/libraries/adapter/network_test_support.h"
#include "tests/support/child_process.h"
#include "tests/support/test_support.h"
#include "tests/ui/qt_application.h"
#include "tests/ui/virtual_desktop.h"

namespace quarnel {
namespace {

constexpr RegistryHive kHive = RegistryHive::LocalMachine;
// "bob:n3w-pass" in base64, as the update request authenticates the new account.
constexpr const char* kNewAuthorization = "Basic Ym9iOm4zdy1wYXNz";
// The namespace's default gateway: with no DHCP lease below the test root, it is what the
// service identifies the local network by, so only a filter listing it lets the update out.
constexpr const char* kGateway = "198.51.100.1";

// Its waits include starting a service and a desktop, so they are longer than usual.
bool Eventually(const std::function<bool()>& condition, int timeoutMs = 60000) {
    return test::Eventually(condition, timeoutMs);
}

// Update requests over HTTPS that authenticate with this Authorization value.
int CountUpdates(const test::ProviderEmulator& emulator, const std::string& authorization) {
    int count = 0;
    for (const test::RequestRecord& record : test::ParseRequestRecords(emulator.Requests())) {
        if (record.server == "https" && record.target.starts_with("/nic/update") &&
            record.Header("Authorization") == authorization) {
            ++count;
        }
    }
    return count;
}

class SettingsEndToEndTest : public testing::Test {
  protected:
    void SetUp() override {
        if (const std::optional<std::string> reason = test::VirtualDesktop::Unavailable()) {
            GTEST_SKIP() << *reason;
        }
        QUARNEL_ENTER_PRIVATE_NETWORK("quarnel-settings", "");
        ASSERT_TRUE(test::AddVethPair("qs-wired", "qs-peer", "198.51.100.2/24"));
        ASSERT_TRUE(test::RunIp({"route", "add", "default", "via", kGateway, "dev", "qs-wired"}));
        root_ = std::make_unique<test::TemporaryFolder>();
        const std::pair<const char*, std::optional<std::string>> variables[] = {
            {"QUARNEL_ROOT", root_->Path()},
            {"HOME", root_->Path() + "/root"},
            {"XDG_CONFIG_HOME", std::nullopt},
            {"XDG_RUNTIME_DIR", "/run/settings-e2e"},
            {"LOGLEVEL", "6"},
            {"QT_QPA_PLATFORM", std::nullopt},
            {"WAYLAND_DISPLAY", std::nullopt},
            {"DBUS_SESSION_BUS_ADDRESS", std::nullopt}};
        for (const auto& [name, value] : variables) {
            environment_.push_back(std::make_unique<test::ScopedEnvironment>(name, value));
        }
        // An installed service is what OK sends control 128 to; the foreground service below
        // answers on the same control socket as a unit-started one would.
        const std::string unit = RootedPath("/etc/systemd/system/" + UnitFileName(ServiceName));
        std::filesystem::create_directories(std::filesystem::path(unit).parent_path());
        std::ofstream(unit) << "[Service]\nExecStart=" << test::ProgramPath() << " /service\n";

        ASSERT_TRUE(test::StartEmulatorWithAccount(emulator_,
                                                   {"/admin/account?user=bob&password=n3w-pass",
                                                    "/admin/host?name=new.example.org&user=bob"}));
        ASSERT_TRUE(test::WriteAccountSettings());
    }

    void TearDown() override {
        // The settings window closes with the tray that started it.
        test::StopChild(tray_);
        test::StopChild(service_);
        emulator_.Stop();
    }

    // Clicks the tray icon and returns the settings window the tray opens, or nothing.
    std::string OpenSettingsFromTray() {
        const std::optional<std::string> icon =
            Xdotool({"search", "--onlyvisible", "--pid", std::to_string(tray_.Pid())});
        if (!icon.has_value() || icon->empty() ||
            !Xdotool({"mousemove", "--window", icon->substr(0, icon->find('\n')), "4", "4", "click",
                      "1"})) {
            return {};
        }
        return desktop_.FindWindow("Quarnel Updater", static_cast<int>(tray_.Pid())).value_or("");
    }

    std::optional<std::string> Xdotool(const std::vector<std::string>& arguments) const {
        return desktop_.Xdotool(arguments);
    }

    std::unique_ptr<test::TemporaryFolder> root_;
    std::vector<std::unique_ptr<test::ScopedEnvironment>> environment_;
    test::ProviderEmulator emulator_;
    test::VirtualDesktop desktop_;
    test::ChildProcess service_;
    test::ChildProcess tray_;
};

TEST_F(SettingsEndToEndTest, NewAccountIntervalProviderAndFilterAreStoredAndUpdatedAtOnce) {
    ASSERT_TRUE(
        service_.Start(test::ProgramPath(), {"/service"}, {{"SSL_CERT_FILE", emulator_.CaFile()}}));
    ASSERT_TRUE(Eventually([&] { return CountUpdates(emulator_, "Basic YWxpY2U6czNjcmV0") == 1; }))
        << service_.Output();

    ASSERT_TRUE(desktop_.Start()) << desktop_.Server().Output();
    const std::string suppressions = root_->Path() + "/desktop-library-leaks.supp";
    std::ofstream(suppressions) << test::kDesktopLibraryLeaks;
    ASSERT_TRUE(desktop_.StartTrayHost());
    // Run as root, the tray starts the settings window directly, without pkexec.
    ASSERT_TRUE(tray_.Start(
        test::ProgramPath(), {},
        {{"DISPLAY", desktop_.Display()}, {"LSAN_OPTIONS", "suppressions=" + suppressions}}));
    ASSERT_TRUE(Eventually([&] {
        return test::DebugLogText().find("Tray icon shown in the notification area") !=
               std::string::npos;
    })) << test::DebugLogText()
        << tray_.Output();

    const std::string id = OpenSettingsFromTray();
    ASSERT_FALSE(id.empty()) << test::DebugLogText() << tray_.Output();
    ASSERT_TRUE(Xdotool({"windowfocus", "--sync", id}));
    const std::optional<std::string> geometry = Xdotool({"getwindowgeometry", "--shell", id});
    ASSERT_TRUE(geometry.has_value());
    std::smatch match;
    ASSERT_TRUE(std::regex_search(*geometry, match, std::regex("WIDTH=([0-9]+)")));
    const int width = std::stoi(match[1].str());

    // A click into the user name field (10, 25, 150 by 20 on the first tab page, below the tab
    // bar) gives it the focus; the password and host name fields and the interval and provider
    // lists follow it in the tab order. Down picks the next entry: 10 minutes, DNS-O-Matic.
    ASSERT_TRUE(Xdotool({"mousemove", "--window", id, "60", "62", "click", "1"}));
    ASSERT_TRUE(Xdotool({"key", "--window", id, "ctrl+a"}));
    ASSERT_TRUE(Xdotool({"type", "--delay", "5", "bob"}));
    ASSERT_TRUE(Xdotool({"key", "Tab", "ctrl+a"}));
    ASSERT_TRUE(Xdotool({"type", "--delay", "5", "n3w-pass"}));
    ASSERT_TRUE(Xdotool({"key", "Tab", "ctrl+a"}));
    ASSERT_TRUE(Xdotool({"type", "--delay", "5", "new.example.org"}));
    ASSERT_TRUE(Xdotool({"key", "Tab", "Down", "Tab", "Down", "Down"}));

    // Five steps back from the provider list is the tab bar, where Right turns to the Local
    // Network tab; the filter box is the only control enabled there and takes the focus next.
    // Ticking it enables the field and the list, and two steps back is the field: the gateway
    // typed in and inserted makes the list's only entry.
    ASSERT_TRUE(Xdotool({"key", "shift+Tab", "shift+Tab", "shift+Tab", "shift+Tab", "shift+Tab",
                         "Right", "Tab", "space", "shift+Tab", "shift+Tab", "ctrl+a"}));
    ASSERT_TRUE(Xdotool({"type", "--delay", "5", kGateway}));
    ASSERT_TRUE(Xdotool({"key", "Tab", "space"}));

    // OK: 90 by 22 pixels, 8 pixels left of Cancel, which is 8 pixels from the right edge.
    const std::string okX = std::to_string(width - 8 - 90 - 8 - 45);
    const auto pressed = std::chrono::steady_clock::now();
    ASSERT_TRUE(Xdotool({"mousemove", "--window", id, okX, "251", "click", "1"}));
    ASSERT_TRUE(Eventually([&] { return CountUpdates(emulator_, kNewAuthorization) == 1; }))
        << service_.Output() << tray_.Output();
    const auto delay = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - pressed);
    std::printf("From the click on OK to the update request: %lld ms\n",
                static_cast<long long>(delay.count()));
    EXPECT_TRUE(Eventually([&] {
        return test::DebugLogText().find("Setting process has ended") != std::string::npos;
    })) << test::DebugLogText()
        << tray_.Output();

    EXPECT_EQ(ReadRegistryString(kHive, kSettingsKey, kValueUsername), "bob");
    EXPECT_EQ(ReadProtectedPassword(kHive, kSettingsKey, kValuePassword, GetHardwareProfileId()),
              "n3w-pass");
    EXPECT_EQ(ReadRegistryString(kHive, kSettingsKey, kValueHostname), "new.example.org");
    EXPECT_EQ(ReadRegistryDword(kHive, kSettingsKey, kValueInterval), 10);
    EXPECT_EQ(ReadRegistryDword(kHive, kSettingsKey, kValueService), kProviderDnsOMatic);
    EXPECT_EQ(ReadRegistryDword(kHive, kSettingsKey, kValueLocalFilter), 1);
    EXPECT_EQ(ReadRegistryMultiString(kHive, kSettingsKey, kValueLocalNetworks),
              std::string(kGateway) + "\n\n");
    EXPECT_EQ(emulator_.Admin("/admin/host?name=new.example.org"), "203.0.113.5\n");

    // Once the window has closed, the tray opens the settings again.
    EXPECT_FALSE(OpenSettingsFromTray().empty()) << test::DebugLogText() << tray_.Output();
}

}  // namespace
}  // namespace quarnel
