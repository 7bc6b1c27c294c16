// The unit's text: names, command-line quoting as systemd reads it, the flattened description.

#include "libraries/src/service/unit_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "platform/child_process.h"
#include "tests/support/test_support.h"

namespace quarnel {
namespace {

ServiceUnitSettings Settings(const std::string& path) {
    return {"Quarnel Updater", path, "/service", "First line\r\nsecond\nthird",
            "network-online.target\n"};
}

// The lines of a section of a unit text.
std::vector<std::string> Section(const std::string& unit, const std::string& name) {
    std::vector<std::string> lines;
    bool inside = false;
    std::size_t start = 0;
    while (start < unit.size()) {
        const std::size_t end = unit.find('\n', start);
        const std::string line = unit.substr(start, end - start);
        if (!line.empty() && line[0] == '[') {
            inside = line == "[" + name + "]";
        } else if (inside && !line.empty()) {
            lines.push_back(line);
        }
        start = end == std::string::npos ? unit.size() : end + 1;
    }
    return lines;
}

TEST(UnitFile, NamesFollowTheServiceName) {
    EXPECT_EQ(UnitFileName("Quarnel Updater"), "quarnel-updater.service");
    EXPECT_EQ(UnitFileName("A/B c"), "a-b-c.service");
}

TEST(UnitFile, WordsAreQuotedOnlyWhenSystemdWouldReadThemOtherwise) {
    EXPECT_EQ(QuoteUnitWord("/usr/bin/quarnel-updater"), "/usr/bin/quarnel-updater");
    EXPECT_EQ(QuoteUnitWord("/service"), "/service");
    EXPECT_EQ(QuoteUnitWord("/opt/my apps/q"), "\"/opt/my apps/q\"");
    EXPECT_EQ(QuoteUnitWord("/opt/a\"b\\c"), "\"/opt/a\\\"b\\\\c\"");
    // Specifiers and variables would be expanded: doubled.
    EXPECT_EQ(QuoteUnitWord("/opt/100%/$HOME"), "\"/opt/100%%/$$HOME\"");
    EXPECT_EQ(QuoteUnitWord("/opt/100%/$HOME", false), "\"/opt/100%%/$HOME\"");
    EXPECT_EQ(UnitCommandLine("/opt/$x/q", "$y"), "\"/opt/$x/q\" \"$$y\"");
    EXPECT_EQ(QuoteUnitWord(std::string("/opt/a\tb\x01", 9)), "\"/opt/a\\x09b\\x01\"");
    EXPECT_EQ(UnitCommandLine("/opt/my apps/q", "/service  /x"), "\"/opt/my apps/q\" /service /x");
    EXPECT_EQ(UnitCommandLine("/usr/bin/q", ""), "/usr/bin/q");
}

TEST(UnitFile, DescriptionLosesCarriageReturnsAndKeepsOneBlankPerLineFeed) {
    EXPECT_EQ(UnitDescription("a\r\nb\n \n \nc"), "a b     c");
    EXPECT_EQ(UnitDescription("50% off"), "50%% off");
}

TEST(UnitFile, TheUnitRunsTheProgramAsANotifyingHardenedService) {
    const std::string unit = BuildServiceUnit(Settings("/usr/bin/quarnel-updater"));
    EXPECT_EQ(Section(unit, "Unit"),
              (std::vector<std::string>{
                  "Description=Quarnel Updater", "Documentation=man:quarnel-updater(1)",
                  "After=network-online.target", "Wants=network-online.target"}));
    // The long text is kept for the reader of the file, as a comment.
    EXPECT_NE(unit.find("\n# First line second third\n"), std::string::npos) << unit;
    const std::vector<std::string> service = Section(unit, "Service");
    for (const char* line :
         {"Type=notify", "ExecStart=/usr/bin/quarnel-updater /service",
          "ExecReload=/bin/kill -HUP $MAINPID", "Restart=on-failure", "NoNewPrivileges=yes",
          "ProtectSystem=strict", "ProtectHome=yes", "PrivateTmp=yes",
          "StateDirectory=quarnel-updater", "LogsDirectory=quarnel-updater",
          "RuntimeDirectory=quarnel-updater",
          "RestrictAddressFamilies=AF_UNIX AF_INET AF_INET6 AF_NETLINK",
          // What the transfer helper needs to leave root and to be killed.
          "CapabilityBoundingSet=CAP_KILL CAP_SETGID CAP_SETUID",
          "SystemCallFilter=@system-service seccomp landlock_create_ruleset landlock_add_rule "
          "landlock_restrict_self"}) {
        EXPECT_NE(std::find(service.begin(), service.end(), line), service.end()) << line;
    }
    EXPECT_EQ(Section(unit, "Install"), std::vector<std::string>{"WantedBy=multi-user.target"});
    EXPECT_EQ(FindUnitCommandLine(unit), "/usr/bin/quarnel-updater /service");

    ServiceUnitSettings bare = Settings("/usr/bin/q");
    bare.description.clear();
    bare.dependencies.clear();
    EXPECT_EQ(Section(BuildServiceUnit(bare), "Unit"),
              (std::vector<std::string>{"Description=Quarnel Updater",
                                        "Documentation=man:quarnel-updater(1)"}));
}

TEST(UnitFile, CommandLineIsFoundAsWrittenOrNotAtAll) {
    EXPECT_EQ(FindUnitCommandLine("[Service]\n  ExecStart=/a /service  \r\nExecStart=/b\n"),
              "/a /service");
    EXPECT_EQ(FindUnitCommandLine("[Service]\nExecStartPre=/a\n"), "");
}

// systemd's own offline checker parses the unit as the manager would, for a program whose
// path needs quoting; it must neither warn nor fail.
TEST(UnitFile, SystemdAcceptsTheUnitWithoutAnyWarning) {
    const std::string analyzer = FindExecutable("systemd-analyze", "/usr/bin:/bin");
    if (analyzer.empty()) {
        GTEST_SKIP() << "systemd-analyze is not installed";
    }
    test::TemporaryFolder folder;
    const std::string programFolder = folder.Path() + "/my 100% apps";
    std::filesystem::create_directories(programFolder);
    const std::string program = programFolder + "/quarnel-updater";
    std::filesystem::copy_file("/bin/true", program);
    const std::string unitPath = folder.Path() + "/quarnel-updater.service";
    std::ofstream(unitPath) << BuildServiceUnit(Settings(program));

    // Documentation= names the manual page: it must be found, here the one of this tree. Without
    // a man program (a minimal system) that check cannot run.
    const std::string manFolder = folder.Path() + "/man/man1";
    std::filesystem::create_directories(manFolder);
    std::filesystem::copy_file(QUARNEL_SOURCE_DIR "/packaging/man/quarnel-updater.1",
                               manFolder + "/quarnel-updater.1");
    const test::ScopedEnvironment manPath("MANPATH", folder.Path() + "/man");
    const bool withMan = !FindExecutable("man", "/usr/bin:/bin").empty();
    const CommandResult result =
        RunCommand({analyzer, "verify", withMan ? "--man=yes" : "--man=no", unitPath}, 60000);
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(result.output.find("quarnel-updater.service:"), std::string::npos) << result.output;
}

// The sandbox as systemd itself rates it: every right the service does not use is taken away.
TEST(UnitFile, SystemdRatesTheUnitsExposureAtMostTwo) {
    const std::string analyzer = FindExecutable("systemd-analyze", "/usr/bin:/bin");
    if (analyzer.empty()) {
        GTEST_SKIP() << "systemd-analyze is not installed";
    }
    test::TemporaryFolder folder;
    const std::string unitPath = folder.Path() + "/quarnel-updater.service";
    std::ofstream(unitPath) << BuildServiceUnit(Settings("/bin/true"));
    // The score is printed as tenths; the threshold is in the same tenths.
    const CommandResult result = RunCommand(
        {analyzer, "security", "--offline=true", "--threshold=20", "--no-pager", unitPath}, 60000);
    ASSERT_TRUE(result.finished);
    const std::size_t overall = result.output.find("Overall exposure level");
    ASSERT_NE(overall, std::string::npos) << result.output;
    std::cout << result.output.substr(overall, result.output.find('\n', overall) - overall) << "\n";
    EXPECT_EQ(result.exitCode, 0) << result.output;
}

}  // namespace
}  // namespace quarnel
