// The tray's autostart entries through the real program's switches, whose exit code is the
// state read back: 1 all users, 16 this user, 17 both, 0 none.

#include "libraries/src/service/autostart.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/child_process.h"
#include "tests/support/test_support.h"

namespace quarnel {
namespace {

constexpr const char* kName = "Quarnel Updater";

class AutostartTest : public ::testing::Test {
  protected:
    AutostartTest()
        : rootEnvironment_("QUARNEL_ROOT", root_.Path()),
          configEnvironment_("XDG_CONFIG_HOME", "/home/user/.config") {}

    std::string AllUsersEntry() const {
        return root_.Path() + "/etc/xdg/autostart/quarnel-updater.desktop";
    }
    std::string ThisUserEntry() const {
        return root_.Path() + "/home/user/.config/autostart/quarnel-updater.desktop";
    }
    // The program (QUARNEL_PROGRAM) with one switch, in the temporary tree.
    test::ProgramResult Run(const std::string& option) {
        return test::RunProgram(
            {option}, {{"QUARNEL_ROOT", root_.Path()}, {"XDG_CONFIG_HOME", "/home/user/.config"}});
    }
    static std::string ExecLine(const std::string& path) {
        return "Exec=" + AutostartCommand(path) + "\n";
    }
    static void WriteEntry(const std::string& path, const std::string& exec) {
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::ofstream(path) << "[Desktop Entry]\nType=Application\nName=Other\nExec=" << exec
                            << "\n";
    }

    test::TemporaryFolder root_;
    test::ScopedEnvironment rootEnvironment_;
    test::ScopedEnvironment configEnvironment_;
};

TEST_F(AutostartTest, SwitchesWriteOneEntryRemoveTheOtherAndExitWithTheState) {
    const std::string program = test::ProgramPath();
    auto result = Run("/autostart");
    EXPECT_EQ(result.exitCode, 1) << result.output;
    ASSERT_TRUE(std::filesystem::exists(AllUsersEntry()));
    const std::string entry = test::ReadFileText(AllUsersEntry());
    EXPECT_EQ(entry.rfind("[Desktop Entry]\n", 0), 0u);
    EXPECT_NE(entry.find("\nExec=\"" + program + "\"\n"), std::string::npos) << entry;
    EXPECT_NE(entry.find("\nType=Application\n"), std::string::npos);
    struct stat info = {};
    ASSERT_EQ(::stat(AllUsersEntry().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0644u);

    result = Run("/userstart");
    EXPECT_EQ(result.exitCode, 16) << result.output;
    EXPECT_FALSE(std::filesystem::exists(AllUsersEntry()));
    EXPECT_EQ(test::ReadFileText(ThisUserEntry()), entry);

    // Both at once through the procedure; the switches only ever set one.
    EXPECT_EQ(SetAutostart(kName, program, AutostartAllUsers | AutostartThisUser), 17);

    result = Run("/nostart");
    EXPECT_EQ(result.exitCode, 0) << result.output;
    EXPECT_FALSE(std::filesystem::exists(AllUsersEntry()));
    EXPECT_FALSE(std::filesystem::exists(ThisUserEntry()));
    // Removing what is not there is no failure.
    result = Run("/nostart");
    EXPECT_EQ(result.exitCode, 0) << result.output;
}

TEST_F(AutostartTest, EntriesOfAnotherPathOrUnquotedCountAsAbsentAndAreReplaced) {
    const std::string program = "/usr/bin/quarnel-updater";
    WriteEntry(AllUsersEntry(), "\"/opt/old/quarnel-updater\"");
    WriteEntry(ThisUserEntry(), program);
    EXPECT_EQ(GetAutostart(kName, program), 0);
    // An exact entry marked hidden (the XDG way of deleting one) does not start anything.
    WriteEntry(ThisUserEntry(), AutostartCommand(program) + "\nHidden=true");
    EXPECT_EQ(GetAutostart(kName, program), 0);

    EXPECT_EQ(SetAutostart(kName, program, AutostartThisUser), AutostartThisUser);
    EXPECT_NE(test::ReadFileText(ThisUserEntry()).find(ExecLine(program)), std::string::npos);
    EXPECT_EQ(test::ReadFileText(ThisUserEntry()).find("Hidden"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(AllUsersEntry()));
}

TEST_F(AutostartTest, AMovedProgramFindsNoEntryOfItsOwn) {
    // Entries written by the program at its first place.
    const auto first = Run("/autostart");
    ASSERT_EQ(first.exitCode, 1) << first.output;
    // The same program copied to a folder whose name needs quoting and escaping.
    const std::string folder = root_.Path() + "/opt/new place $x";
    std::filesystem::create_directories(folder);
    const std::string moved = folder + "/quarnel-updater";
    std::filesystem::copy_file(test::ProgramPath(), moved);
    EXPECT_EQ(GetAutostart(kName, moved), 0);
    EXPECT_EQ(GetAutostart(kName, test::ProgramPath()), AutostartAllUsers);

    test::ScopedEnvironment program("QUARNEL_PROGRAM", moved);
    const auto result = Run("/userstart");
    EXPECT_EQ(result.exitCode, 16) << result.output;
    const std::string expected =
        "\nExec=\"" + root_.Path() + "/opt/new place \\\\$x/quarnel-updater\"\n";
    EXPECT_NE(test::ReadFileText(ThisUserEntry()).find(expected), std::string::npos)
        << test::ReadFileText(ThisUserEntry());
    EXPECT_FALSE(std::filesystem::exists(AllUsersEntry()));
}

TEST(AutostartCommand, QuotesAndEscapesAsDesktopEntriesRequire) {
    EXPECT_EQ(AutostartCommand("/usr/bin/quarnel-updater"), "\"/usr/bin/quarnel-updater\"");
    // Inside quotes '"', '`', '$' and '\' take a backslash, and the value escapes backslashes
    // once more; '%' would start a field code.
    EXPECT_EQ(AutostartCommand("/a \"b\"/`c`/$d/e\\f/100%"),
              "\"/a \\\\\"b\\\\\"/\\\\`c\\\\`/\\\\$d/e\\\\\\\\f/100%%\"");
}

// A user who may not remove the all-users entry keeps it: /userstart then reports both.
TEST_F(AutostartTest, WithoutRightsTheAllUsersEntryStaysAndShowsInTheState) {
    const std::string setpriv = FindExecutable("setpriv", "/usr/bin:/bin");
    if (::geteuid() != 0 || setpriv.empty()) {
        GTEST_SKIP() << "changing to an unprivileged user needs root and setpriv";
    }
    // The program and the tree must be reachable for the unprivileged user.
    const std::string program = root_.Path() + "/quarnel-updater";
    std::filesystem::copy_file(test::ProgramPath(), program);
    ASSERT_EQ(::chmod(root_.Path().c_str(), 0755), 0);
    ASSERT_EQ(SetAutostart(kName, program, AutostartAllUsers), AutostartAllUsers);
    std::filesystem::create_directories(root_.Path() + "/home/user");
    ASSERT_EQ(::chown((root_.Path() + "/home/user").c_str(), 65534, 65534), 0);

    test::ScopedEnvironment home("HOME", "/home/user");
    const CommandResult result = RunCommand(
        {setpriv, "--reuid=65534", "--regid=65534", "--clear-groups", program, "/userstart"},
        30000);
    ASSERT_TRUE(result.finished) << result.output;
    EXPECT_EQ(result.exitCode, 17) << result.output;
    EXPECT_TRUE(std::filesystem::exists(AllUsersEntry()));
    EXPECT_TRUE(std::filesystem::exists(ThisUserEntry()));

    const CommandResult all = RunCommand(
        {setpriv, "--reuid=65534", "--regid=65534", "--clear-groups", program, "/autostart"},
        30000);
    // The all-users entry cannot be rewritten, but it is already exact; the user's is removed.
    EXPECT_EQ(all.exitCode, 1) << all.output;
    EXPECT_FALSE(std::filesystem::exists(ThisUserEntry()));
}

// Asking for the all-users entry without being able to write it must not cost the user the
// own entry (the tray would then not start at all), and it must say why.
TEST_F(AutostartTest, AnAllUsersEntryThatCannotBeWrittenKeepsThisUsersOwnAndSaysWhy) {
    ASSERT_EQ(Run("/userstart").exitCode, AutostartThisUser);
    // A file where the all-users folder should be: no one can write the entry there.
    std::filesystem::create_directories(root_.Path() + "/etc/xdg");
    std::ofstream(root_.Path() + "/etc/xdg/autostart") << "not a folder";

    const auto result = Run("/autostart");
    EXPECT_EQ(result.exitCode, AutostartThisUser) << result.output;
    EXPECT_TRUE(std::filesystem::exists(ThisUserEntry()));
    EXPECT_NE(result.output.find("cannot write " + AllUsersEntry()), std::string::npos)
        << result.output;
    EXPECT_NE(result.output.find("the tray autostart was not changed"), std::string::npos)
        << result.output;
}

// Run without root, the switches that change the system say that they need it.
TEST_F(AutostartTest, WithoutRightsTheSwitchesSayThatTheyNeedRoot) {
    const std::string setpriv = FindExecutable("setpriv", "/usr/bin:/bin");
    if (::geteuid() != 0 || setpriv.empty()) {
        GTEST_SKIP() << "changing to an unprivileged user needs root and setpriv";
    }
    const std::string program = root_.Path() + "/quarnel-updater";
    std::filesystem::copy_file(test::ProgramPath(), program);
    ASSERT_EQ(::chmod(root_.Path().c_str(), 0755), 0);
    for (const std::string option : {"/install", "/uninstall", "/stop", "/autostart"}) {
        const CommandResult result = RunCommand(
            {setpriv, "--reuid=65534", "--regid=65534", "--clear-groups", program, option}, 30000);
        ASSERT_TRUE(result.finished) << result.output;
        EXPECT_NE(result.output.find("needs root rights"), std::string::npos)
            << option << ": " << result.output;
        EXPECT_EQ(result.exitCode, 0) << option << ": " << result.output;
    }
}

}  // namespace
}  // namespace quarnel
