// The real program in systray mode: loading the desktop module, the failures that must stay one
// line, and the instance codes of a running tray.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/guid.h"
#include "platform/instance.h"
#include "settings/registry.h"
#include "settings/schema.h"
#include "startup/instance.h"
#include "tests/support/child_process.h"
#include "tests/support/test_support.h"

namespace quarnel {
namespace {

using test::Eventually;

int LineCount(const std::string& text) {
    int lines = 0;
    for (const char c : text) {
        lines += c == '\n' ? 1 : 0;
    }
    return lines;
}

class SystrayProgramTest : public testing::Test {
  protected:
    void SetUp() override {
        root_ = std::make_unique<test::TemporaryFolder>();
        environment_.push_back(
            std::make_unique<test::ScopedEnvironment>("QUARNEL_ROOT", root_->Path()));
        environment_.push_back(
            std::make_unique<test::ScopedEnvironment>("XDG_RUNTIME_DIR", "/run/tray-test"));
        environment_.push_back(std::make_unique<test::ScopedEnvironment>("LOGLEVEL", "5"));
        environment_.push_back(std::make_unique<test::ScopedEnvironment>("DISPLAY", std::nullopt));
        environment_.push_back(
            std::make_unique<test::ScopedEnvironment>("WAYLAND_DISPLAY", std::nullopt));
        environment_.push_back(
            std::make_unique<test::ScopedEnvironment>("QT_QPA_PLATFORM", std::nullopt));
    }

    void TearDown() override {
        if (tray_.Pid() > 0) {
            tray_.Signal(SIGKILL);
            tray_.Wait(5000);
        }
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
    test::ChildProcess tray_;
};

TEST_F(SystrayProgramTest, WithoutADisplayOneLineAndExitCodeZero) {
    const test::ProgramResult result = test::RunProgram({}, {});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(LineCount(result.output), 1) << result.output;
    EXPECT_NE(result.output.find("no display"), std::string::npos) << result.output;
}

TEST_F(SystrayProgramTest, UnreachableDisplayOneLineNotACrash) {
    const test::ProgramResult result = test::RunProgram({}, {{"DISPLAY", ":97"}});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(LineCount(result.output), 1) << result.output;
    // It names the display, not Qt's advice to reinstall.
    EXPECT_NE(result.output.find("the display :97 could not be reached"), std::string::npos)
        << result.output;
    EXPECT_EQ(result.output.find("einstall"), std::string::npos) << result.output;
}

TEST_F(SystrayProgramTest, MissingModuleOneLineAndExitCodeZero) {
    // The program alone, without the module beside it.
    const std::string copy = root_->Path() + "/quarnel-updater";
    std::filesystem::copy_file(test::ProgramPath(), copy);
    test::ChildProcess program;
    ASSERT_TRUE(program.Start(copy, {}, {{"QT_QPA_PLATFORM", "offscreen"}}));
    EXPECT_EQ(program.Wait(), 0);
    EXPECT_EQ(LineCount(program.Output()), 1) << program.Output();
    EXPECT_NE(program.Output().find("desktop module"), std::string::npos) << program.Output();
}

TEST_F(SystrayProgramTest, InstalledLayoutFindsTheModuleInItsLibraryFolder) {
    // /usr/bin/quarnel-updater and /usr/lib/quarnel-updater/quarnel-updater-ui.so, in small.
    const std::string program = root_->Path() + "/usr/bin/quarnel-updater";
    const std::string module = root_->Path() + "/usr/lib/quarnel-updater/quarnel-updater-ui.so";
    std::filesystem::create_directories(root_->Path() + "/usr/bin");
    std::filesystem::create_directories(root_->Path() + "/usr/lib/quarnel-updater");
    std::filesystem::copy_file(test::ProgramPath(), program);
    std::filesystem::copy_file(
        std::filesystem::path(test::ProgramPath()).parent_path() / "quarnel-updater-ui.so", module);
    ASSERT_TRUE(tray_.Start(program, {}, {{"QT_QPA_PLATFORM", "offscreen"}}));
    ASSERT_TRUE(Eventually([&] { return DebugLogs().find("Thread started") != std::string::npos; }))
        << DebugLogs() << tray_.Output();
    EXPECT_NE(DebugLogs().find("Loaded " + root_->Path() + "/usr/bin/../lib/quarnel-updater/"),
              std::string::npos);
    EXPECT_EQ(test::RunProgram({"/quit"}, {}).exitCode, 1);
    EXPECT_EQ(tray_.Wait(), 0) << tray_.Output();
}

TEST_F(SystrayProgramTest, SecondTrayOpensSettingsInTheFirstAndQuitEndsBoth) {
    ASSERT_EQ(CreateRegistryKey(RegistryHive::LocalMachine, kSettingsKey), 1);
    ASSERT_EQ(
        WriteRegistryString(RegistryHive::LocalMachine, kSettingsKey, kValueUsername, "alice"), 1);
    ASSERT_TRUE(tray_.Start(test::ProgramPath(), {}, {{"QT_QPA_PLATFORM", "offscreen"}}));
    const std::string socket = InstanceSocketPath(GuidToString(SystrayInstanceGuid), ::geteuid());
    struct stat info = {};
    ASSERT_TRUE(Eventually([&] { return ::stat(socket.c_str(), &info) == 0; })) << tray_.Output();
    ASSERT_TRUE(Eventually([&] { return DebugLogs().find("Thread started") != std::string::npos; }))
        << DebugLogs();

    // The second tray ends at once with the broadcast's result; the first opens the settings.
    const test::ProgramResult second = test::RunProgram({}, {{"QT_QPA_PLATFORM", "offscreen"}});
    EXPECT_EQ(second.exitCode, 1) << second.output;
    EXPECT_TRUE(Eventually([&] {
        return DebugLogs().find("ThreadSettingMain") != std::string::npos;
    })) << DebugLogs();

    // A second settings window brings the first to the front and ends.
    EXPECT_EQ(test::RunProgram({"/setting"}, {{"QT_QPA_PLATFORM", "offscreen"}}).exitCode, 1);
    EXPECT_NE(DebugLogs().find("Setting process is already running"), std::string::npos);

    // Quitting closes the settings window without storing anything, and ends the tray.
    EXPECT_EQ(test::RunProgram({"/quit"}, {}).exitCode, 1);
    EXPECT_EQ(tray_.Wait(), 0) << tray_.Output();
    EXPECT_TRUE(Eventually([&] {
        return DebugLogs().find("Settings window has been closed") != std::string::npos;
    })) << DebugLogs();
    EXPECT_EQ(ReadRegistryDword(RegistryHive::LocalMachine, kSettingsKey, kValueTime), 0);
    EXPECT_NE(DebugLogs().find("Tray window has been closed"), std::string::npos);
}

}  // namespace
}  // namespace quarnel
