// The whole crash chain in a desktop process: the program in its tray mode on a real X display
// (Xvfb) with a notification area (trayer) faults (the test-only trigger of the faulting build),
// its reporter shows the crash window, a click on "Send Crash Report" posts the report to the
// provider emulator's tracker, the success message is confirmed, and the crashed tray ends with
// exit code 0.
//
// With QUARNEL_SCREENSHOT_FOLDER set, the crash window as the display shows it is saved there as
// crash-window.png (the picture in docs/screenshots).

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QImage>
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "settings/registry.h"
#include "settings/schema.h"
#include "tests/fixtures/endpoint_overrides.h"
#include "tests/fixtures/provider_emulator.h"
#include "tests/fixtures/request_record.h"
#include "tests/support/child_process.h"
#include "tests/support/test_support.h"
#include "tests/ui/virtual_desktop.h"

namespace quarnel {
namespace {

// The send button's middle in the window: the upper container's offset (7, 7) plus the button's
// place (its right edge at 375, 92 down, 22 high; it grows to the left for a wider text).
constexpr const char* kSendX = "340";
constexpr const char* kSendY = "110";

class CrashEndToEndTest : public testing::Test {
  protected:
    void SetUp() override {
        if (const std::optional<std::string> reason = test::VirtualDesktop::Unavailable()) {
            GTEST_SKIP() << *reason;
        }
        ASSERT_EQ(::mkdir(runtime_.c_str(), 0700), 0);
        ASSERT_TRUE(emulator_.Start());
        // The tracker, and the version check that an administrator's tray starts, on loopback.
        ASSERT_TRUE(test::PointEndpointsAtEmulator(emulator_));
        // A configured account, so that the tray does not open the settings on its start.
        ASSERT_EQ(CreateRegistryKey(RegistryHive::LocalMachine, kSettingsKey), 1);
        ASSERT_EQ(
            WriteRegistryString(RegistryHive::LocalMachine, kSettingsKey, kValueUsername, "alice"),
            1);
    }

    void TearDown() override { test::StopChild(tray_); }

    std::vector<test::RequestRecord> Issues() const {
        std::vector<test::RequestRecord> issues;
        for (const test::RequestRecord& record : test::ParseRequestRecords(emulator_.Requests())) {
            if (record.target == "/issues.xml") {
                issues.push_back(record);
            }
        }
        return issues;
    }

    // Saves the window as the display shows it, from the server's frame buffer (an XWD image).
    bool SaveWindow(const std::string& id, const std::string& path) const {
        const std::optional<test::ScreenPlace> place = desktop_.WindowPlace(id);
        const std::string frame = test::ReadFileText(desktop_.FrameBufferFile());
        if (!place || frame.size() < 100) {
            return false;
        }
        const auto field = [&frame](int index) {
            const auto* bytes = reinterpret_cast<const unsigned char*>(frame.data()) + 4 * index;
            return static_cast<int>(bytes[0] << 24 | bytes[1] << 16 | bytes[2] << 8 | bytes[3]);
        };
        // Header fields: 0 its size, 3 the depth, 4 and 5 the size, 11 bits per pixel, 12 bytes
        // per line, 19 the colour map's entries (12 bytes each) before the pixels.
        const std::size_t offset = static_cast<std::size_t>(field(0)) + 12u * field(19);
        if (field(3) != 24 || field(11) != 32 ||
            frame.size() < offset + static_cast<std::size_t>(field(12)) * field(5)) {
            return false;
        }
        const QImage screen(reinterpret_cast<const uchar*>(frame.data()) + offset, field(4),
                            field(5), field(12), QImage::Format_RGB32);
        return screen.copy(place->x, place->y, place->width, place->height)
            .save(QString::fromStdString(path), "PNG");
    }

    test::TemporaryFolder root_;
    std::string runtime_ = root_.Path() + "/runtime";
    test::ScopedEnvironment rootEnvironment_{"QUARNEL_ROOT", root_.Path()};
    test::ProviderEmulator emulator_;
    test::VirtualDesktop desktop_;
    test::ChildProcess tray_;
};

TEST_F(CrashEndToEndTest, TheTraysCrashWindowSendsTheReportAndTheTrayEnds) {
    ASSERT_TRUE(desktop_.Start()) << desktop_.Server().Output();
    ASSERT_TRUE(desktop_.StartTrayHost());
    ASSERT_TRUE(tray_.Start(QUARNEL_FAULTING_PROGRAM, {},
                            {{"DISPLAY", desktop_.Display()},
                             {"XDG_RUNTIME_DIR", runtime_},
                             {"SSL_CERT_FILE", emulator_.CaFile()},
                             {"QUARNEL_TEST_FAULT_IN_WINDOW_MODE", "null-write"},
                             {"QT_QPA_PLATFORM", ""},
                             {"WAYLAND_DISPLAY", ""},
                             {"DBUS_SESSION_BUS_ADDRESS", ""}}));

    const std::optional<std::string> window =
        desktop_.FindWindow("Application Error", static_cast<int>(tray_.Pid()));
    ASSERT_TRUE(window.has_value()) << tray_.Output();
    if (const char* folder = std::getenv("QUARNEL_SCREENSHOT_FOLDER")) {
        // The pointer off the window, which is given time to paint.
        desktop_.Xdotool({"mousemove", "639", "479"});
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        EXPECT_TRUE(SaveWindow(*window, std::string(folder) + "/crash-window.png"));
    }
    EXPECT_TRUE(Issues().empty());  // nothing is sent before the user asks

    ASSERT_TRUE(desktop_.Xdotool({"mousemove", "--window", *window, kSendX, kSendY, "click", "1"}));
    const std::optional<std::string> notice = desktop_.FindWindow("Crash Report");
    ASSERT_TRUE(notice.has_value()) << tray_.Output();
    ASSERT_TRUE(desktop_.Xdotool({"windowfocus", "--sync", *notice}));
    ASSERT_TRUE(desktop_.Xdotool({"key", "Return"}));

    EXPECT_EQ(tray_.Wait(30000), 0) << tray_.Output();
    const std::vector<test::RequestRecord> issues = Issues();
    ASSERT_EQ(issues.size(), 1u);
    EXPECT_NE(issues[0].body.find("Error Message:   Invalid memory access"), std::string::npos)
        << issues[0].body;
    EXPECT_NE(issues[0].body.find("Sourcecode file: faulting_program.cpp"), std::string::npos)
        << issues[0].body;
}

}  // namespace
}  // namespace quarnel
