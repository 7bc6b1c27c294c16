// The real program started as a child process: start-up, environment reading and the log.

#include <gtest/gtest.h>

#include <cstddef>
#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "platform/child_process.h"
#include "tests/support/test_support.h"
#include "tests/support/udp_listener.h"

namespace quarnel {
namespace {

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

std::string LogFolder(const test::TemporaryFolder& root) {
    return root.Path() + "/var/log/quarnel-updater";
}

std::map<std::string, std::string> Environment(const test::TemporaryFolder& root,
                                               const std::string& level, const std::string& port) {
    return {{"QUARNEL_ROOT", root.Path()},  {"LOGLEVEL", level},   {"LOGPORT", port},
            {"XDG_STATE_HOME", "/var/log"},  // non-root runs log to the same folder
            {"XDG_CONFIG_HOME", "/config"}, {"HOME", "/home/test"}};
}

TEST(Program, QuitWithTraceLoggingWritesOneFileAndTheMatchingDatagrams) {
    test::TemporaryFolder root;
    test::UdpListener listener;
    const auto result =
        test::RunProgram({"/quit"}, Environment(root, "6", std::to_string(listener.Port())));
    ASSERT_NE(result.exitCode, -1) << result.output;

    const auto files = test::ListFolder(LogFolder(root));
    ASSERT_EQ(files.size(), 1u);
    EXPECT_TRUE(std::regex_match(files[0], std::regex("debug\\.\\d{6}\\.\\d{6}\\.\\d+\\.log")));
    const auto lines = SplitLines(test::ReadFileText(LogFolder(root) + "/" + files[0]));
    ASSERT_GE(lines.size(), 5u);
    EXPECT_NE(lines[0].find("INFO  [entry.cpp::"), std::string::npos);
    EXPECT_NE(lines[0].find("] Initiating application"), std::string::npos);
    const std::regex layout(
        "[0-9A-F]{4} \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d "
        "(FATAL|ERROR|WARN |INFO |DEBUG|TRACE) \\[[^:\\]]+:[A-Za-z]*:\\d{4}\\] .*");
    for (const std::string& line : lines) {
        EXPECT_TRUE(std::regex_match(line, layout)) << line;
    }

    const auto datagrams = listener.Receive(lines.size() * 5);
    ASSERT_EQ(datagrams.size(), lines.size() * 5);
    EXPECT_EQ(std::string(datagrams[3].begin(), datagrams[3].end()), "Initiating application");
}

TEST(Program, LevelZeroWritesNothingWhateverThePort) {
    test::TemporaryFolder root;
    test::UdpListener listener;
    for (const std::string level : {"", "0", "abc", "-0"}) {
        test::RunProgram({"/quit"}, Environment(root, level, std::to_string(listener.Port())));
    }
    EXPECT_TRUE(test::ListFolder(LogFolder(root)).empty());
    EXPECT_TRUE(listener.Receive(1, 200).empty());
}

TEST(Program, LevelIsClampedAndReadLeniently) {
    struct Case {
        std::string level;
        bool traceWritten;
        bool infoWritten;
    };
    for (const Case& c : {Case{"-4", false, true}, Case{"99", true, true}, Case{"$5", false, true},
                          Case{"3", false, false}}) {
        test::TemporaryFolder root;
        test::RunProgram({"/quit"}, Environment(root, c.level, ""));
        const auto files = test::ListFolder(LogFolder(root));
        const std::string text =
            files.empty() ? "" : test::ReadFileText(LogFolder(root) + "/" + files[0]);
        EXPECT_EQ(text.find("TRACE") != std::string::npos, c.traceWritten) << c.level;
        EXPECT_EQ(text.find("Initiating application") != std::string::npos, c.infoWritten)
            << c.level;
    }
}

TEST(Program, AnUnusableLogFolderNeverStopsTheProgramAndDatagramsStillGoOut) {
    test::TemporaryFolder root;
    // A plain file where the log folder's parent should be: the folder cannot be created.
    std::ofstream(root.Path() + "/var") << "not a folder";
    test::UdpListener listener;
    const auto result =
        test::RunProgram({"/quit"}, Environment(root, "7", std::to_string(listener.Port())));
    EXPECT_NE(result.exitCode, -1) << result.output;
    EXPECT_GE(listener.Receive(5).size(), 5u);
}

// Standard output alone (standard error thrown away) and the exit code of the program.
CommandResult RunForStandardOutput(const std::string& argument, const test::TemporaryFolder& root) {
    return RunCommand({"/bin/sh", "-c", "QUARNEL_ROOT=\"$2\" \"$0\" \"$1\" 2>/dev/null",
                       test::ProgramPath(), argument, root.Path()},
                      30000);
}

TEST(Program, HelpListsEverySwitchOnStandardOutputAndExitsWithZero) {
    test::TemporaryFolder root;
    for (const std::string option : {"--help", "-h", "/?"}) {
        const CommandResult help = RunForStandardOutput(option, root);
        ASSERT_TRUE(help.finished);
        EXPECT_EQ(help.exitCode, 0) << option;
        for (const char* item :
             {"/service",   "/setting",   "/update",   "/install",   "/enable",
              "/uninstall", "/disable",   "/shutdown", "/stop",      "/quit",
              "/autostart", "/userstart", "/nostart",  "/signature", "/configure",
              "/status",    "--help",     "--version", "LOGLEVEL",   "QUARNEL_ROOT"}) {
            EXPECT_NE(help.output.find(item), std::string::npos) << option << ": " << item;
        }
    }
    const CommandResult version = RunForStandardOutput("--version", root);
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_TRUE(std::regex_search(
        version.output, std::regex("^quarnel-updater .*\\d+\\.\\d+\\.\\d+, build 294\n$")))
        << version.output;
    // Nothing else ran: no store, no log.
    EXPECT_TRUE(test::ListFolder(root.Path()).empty());
}

}  // namespace
}  // namespace quarnel
