#include "diagnostics/log.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/clock.h"
#include "platform/file_io.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "tests/support/test_support.h"
#include "tests/support/udp_listener.h"

namespace quarnel {
namespace {

std::uint64_t ReadLittleEndian(const std::vector<std::uint8_t>& data, std::size_t offset,
                               int bytes) {
    std::uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) {
        value = (value << 8) | data[offset + i];
    }
    return value;
}

std::string AsText(const std::vector<std::uint8_t>& data) {
    return std::string(data.begin(), data.end());
}

std::string ExpectedThreadField() {
    char text[32];
    std::snprintf(text, sizeof text, "%04llX", static_cast<unsigned long long>(CurrentThreadId()));
    return std::string(text).substr(0, 4);
}

// The log file of this test process lives in one temporary root for the whole suite: a process
// writes one file, opened by its first entry (after CloseLogFile, the next entry opens a new one).
class LogTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        root_ = new test::TemporaryFolder();
        ::setenv("QUARNEL_ROOT", root_->Path().c_str(), 1);
        ::setenv("XDG_STATE_HOME", "/state", 1);
        CloseLogFile();  // a file of an earlier test of this process lies in that test's root
        globalHandles.logLockCreated = true;
        for (int i = 0; i < 8; ++i) {
            globalHandles.logLevelNames[i] = LogLevelNames[i];
        }
    }
    static void TearDownTestSuite() {
        delete root_;
        ::unsetenv("QUARNEL_ROOT");
    }
    void SetUp() override {
        globalHandles.logLevel = kLogTrace;
        globalHandles.logPort = 0;
    }

    static std::string LogText() {
        const std::string folder = DebugLogFolder();
        const auto files = test::ListFolder(folder);
        if (files.size() != 1) {
            ADD_FAILURE() << "expected one log file in " << folder << ", found " << files.size();
            return {};
        }
        return test::ReadFileText(folder + "/" + files[0]);
    }

    // The line that holds marker, with its line end, and the line after it.
    static std::pair<std::string, std::string> LinesWith(const std::string& marker) {
        const std::string text = LogText();
        const std::size_t at = text.find(marker);
        if (at == std::string::npos) {
            return {};
        }
        const std::size_t start = text.rfind("\r\n", at);
        const std::size_t begin = start == std::string::npos ? 0 : start + 2;
        const std::size_t end = text.find("\r\n", at) + 2;
        const std::size_t nextEnd = text.find("\r\n", end);
        return {text.substr(begin, end - begin),
                nextEnd == std::string::npos ? "" : text.substr(end, nextEnd + 2 - end)};
    }

    static test::TemporaryFolder* root_;
};

test::TemporaryFolder* LogTest::root_ = nullptr;

TEST_F(LogTest, EntryLineHasTheFixedLayout) {
    WriteLog(kLogTrace, "C:\\src\\service/service_ctrl.cpp", "ServiceCtrlMain", 321,
             "SERVICE_START_PENDING marker-layout", 0);
    const auto [line, next] = LinesWith("marker-layout");
    const std::regex layout(
        "[0-9A-F]{4} \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d TRACE "
        "\\[service_ctrl\\.cpp:ServiceCtrlMain:0321\\] SERVICE_START_PENDING marker-layout\r\n");
    EXPECT_TRUE(std::regex_match(line, layout)) << line;
    EXPECT_EQ(line.substr(0, 4), ExpectedThreadField());
    EXPECT_EQ(LogText().substr(0, 3) == "\xEF\xBB\xBF", false) << "no byte-order mark";
}

TEST_F(LogTest, EmptyProcedureShortAndLongLineNumbersAndEmptyMessage) {
    WriteLog(kLogInfo, "main.cpp", "", 47, "marker-top-level", 0);
    EXPECT_NE(LinesWith("marker-top-level").first.find(" INFO  [main.cpp::0047] marker-top"),
              std::string::npos);
    WriteLog(kLogWarn, "main.cpp", "P", 123456, "marker-long-line", 0);
    EXPECT_NE(LinesWith("marker-long-line").first.find("WARN  [main.cpp:P:1234] marker-long"),
              std::string::npos);
    WriteLog(kLogError, "empty-message-file.cpp", "P", 1, "", 0);
    EXPECT_NE(LinesWith("[empty-message-file.cpp:P:0001] \r\n").first.size(), 0u);
}

TEST_F(LogTest, ErrorCodeAddsASecondLineWithTheSystemText) {
    WriteLog(kLogError, "f.cpp", "P", 1, "marker-error-5", 5);
    EXPECT_EQ(LinesWith("marker-error-5").second, "00000005: Input/output error\r\n");
    WriteLog(kLogError, "f.cpp", "P", 1, "marker-error-unknown", 0x7FFFFFF0);
    EXPECT_EQ(LinesWith("marker-error-unknown").second, "7FFFFFF0: \r\n");
    WriteLog(kLogError, "f.cpp", "P", 1, "marker-error-none", 0);
    EXPECT_EQ(LinesWith("marker-error-none").second.find("00000000"), std::string::npos);
}

TEST_F(LogTest, LevelFilterDropsEntriesAboveTheConfiguredLevel) {
    globalHandles.logLevel = kLogInfo;
    for (int level = kLogFatal; level <= kLogAll; ++level) {
        WriteLog(level, "f.cpp", "P", 1, "marker-filter-" + std::to_string(level), 0);
    }
    for (int level = kLogFatal; level <= kLogAll; ++level) {
        const bool written = !LinesWith("marker-filter-" + std::to_string(level)).first.empty();
        EXPECT_EQ(written, level <= kLogInfo) << "level " << level;
    }
    globalHandles.logLevel = kLogOff;
    WriteLog(kLogFatal, "f.cpp", "P", 1, "marker-filter-off", 0);
    EXPECT_TRUE(LinesWith("marker-filter-off").first.empty());
}

TEST_F(LogTest, DatagramsCarryTheHeaderAndFourTexts) {
    test::UdpListener listener;
    globalHandles.logPort = listener.Port();
    WriteLog(kLogWarn, "/a/b/net.cpp", "TestNetwork", 77, "", 2);
    const auto datagrams = listener.Receive(5);
    ASSERT_EQ(datagrams.size(), 5u);
    ASSERT_EQ(datagrams[0].size(), 32u);
    EXPECT_EQ(ReadLittleEndian(datagrams[0], 0, 8), CurrentProcessId());
    EXPECT_EQ(ReadLittleEndian(datagrams[0], 8, 8), CurrentThreadId());
    EXPECT_EQ(ReadLittleEndian(datagrams[0], 20, 4), 3u);
    EXPECT_EQ(ReadLittleEndian(datagrams[0], 24, 4), 77u);
    EXPECT_EQ(ReadLittleEndian(datagrams[0], 28, 4), 2u);
    EXPECT_EQ(AsText(datagrams[1]), "net.cpp");
    EXPECT_EQ(AsText(datagrams[2]), "TestNetwork");
    EXPECT_EQ(datagrams[3], std::vector<std::uint8_t>{0});
    EXPECT_EQ(AsText(datagrams[4]), "No such file or directory");

    WriteLog(kLogWarn, "f.cpp", "", 1, "text", 0);
    const auto second = listener.Receive(5);
    ASSERT_EQ(second.size(), 5u);
    EXPECT_EQ(second[2], std::vector<std::uint8_t>{0});  // empty procedure
    EXPECT_EQ(second[4], std::vector<std::uint8_t>{0});  // no error text
}

// Entries name hosts, accounts and addresses: a root process sends them only to a socket of
// root's. Another user who bound the port first gets nothing, and the file says once why.
TEST_F(LogTest, ARootProcessSendsNoDatagramsToAnotherUsersSocket) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "making a socket of another user needs root";
    }
    test::UdpListener squatter(65534);
    globalHandles.logPort = squatter.Port();
    for (int i = 0; i < 3; ++i) {
        WriteLog(kLogInfo, "f.cpp", "P", 1, "marker-squatted", 0);
    }
    EXPECT_TRUE(squatter.Receive(1, 300).empty());
    const std::string why = "LOGPORT datagrams of this root process are not sent: port " +
                            std::to_string(squatter.Port()) +
                            " of 127.0.0.1 is bound by user 65534, not by root";
    std::size_t told = 0;
    const std::string text = LogText();
    for (std::size_t at = text.find(why); at != std::string::npos; at = text.find(why, at + 1)) {
        ++told;
    }
    EXPECT_EQ(told, 1u) << text;
}

TEST_F(LogTest, NoListenerLeavesTheFileOutputAlone) {
    globalHandles.logPort = 9;  // discard port; nobody listens on loopback
    WriteLog(kLogInfo, "f.cpp", "P", 1, "marker-no-listener", 0);
    EXPECT_FALSE(LinesWith("marker-no-listener").first.empty());
}

TEST_F(LogTest, ThreadsLoggingAtOnceNeverInterleave) {
    test::UdpListener listener;
    globalHandles.logPort = listener.Port();
    constexpr int kThreads = 4;
    constexpr int kEntries = 50;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < kEntries; ++i) {
                WriteLog(kLogTrace, "f.cpp", "Worker", t,
                         "marker-parallel-" + std::to_string(t) + "-" + std::string(200, 'x'), 0);
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    const std::string text = LogText();
    const std::regex entry(
        "[0-9A-F]{4} [-0-9]{10} [:0-9]{8} TRACE \\[f\\.cpp:Worker:000(\\d)\\] "
        "marker-parallel-(\\d)-x{200}");
    int lines = 0;
    for (std::size_t pos = 0; (pos = text.find("marker-parallel-", pos)) != std::string::npos;
         ++pos) {
        const std::size_t previous = text.rfind("\r\n", pos);
        const std::size_t begin = previous == std::string::npos ? 0 : previous + 2;
        const std::size_t end = text.find("\r\n", pos);
        std::smatch match;
        const std::string line = text.substr(begin, end - begin);
        ASSERT_TRUE(std::regex_match(line, match, entry)) << line;
        EXPECT_EQ(match[1], match[2]);
        ++lines;
    }
    EXPECT_EQ(lines, kThreads * kEntries);

    const auto datagrams = listener.Receive(kThreads * kEntries * 5);
    ASSERT_EQ(datagrams.size(), static_cast<std::size_t>(kThreads * kEntries * 5));
    for (std::size_t i = 0; i < datagrams.size(); i += 5) {
        ASSERT_EQ(datagrams[i].size(), 32u);
        const auto lineField = ReadLittleEndian(datagrams[i], 24, 4);
        EXPECT_EQ(AsText(datagrams[i + 3]).substr(0, 17),
                  "marker-parallel-" + std::to_string(lineField));
    }
}

// A log file of the same name (the same process id within the same second) holds another
// process's entries: they stay, and the new ones follow them.
TEST(LogFile, AnExistingFileOfTheSameNameIsContinuedNotOverwritten) {
    const test::TemporaryFolder root;
    const test::ScopedEnvironment rootVariable("QUARNEL_ROOT", root.Path());
    const std::string folder = DebugLogFolder();
    ASSERT_TRUE(CreateFolders(folder, 0700));
    const std::string earlier = "earlier entries of another process\r\n";
    const std::int64_t now = LocalClockSeconds();
    for (std::int64_t second = now; second <= now + 2; ++second) {
        std::ofstream(folder + "/debug" + FormatClock(".%yy%mm%dd.%hh%ii%ss.", second) +
                      std::to_string(CurrentProcessId()) + ".log")
            << earlier;
    }
    UniqueHandle file = OpenLogFile();
    ASSERT_TRUE(file);
    ASSERT_TRUE(WriteAll(file.Get(), "new\r\n", 5));
    file.Reset();
    int continued = 0;
    for (const std::string& name : test::ListFolder(folder)) {
        const std::string text = test::ReadFileText(folder + "/" + name);
        EXPECT_TRUE(text == earlier || text == earlier + "new\r\n") << name << ": " << text;
        continued += text == earlier + "new\r\n" ? 1 : 0;
    }
    EXPECT_EQ(continued, 1);
}

// A process whose log folder changes (each test case with a root of its own) closes its file:
// the next entry opens a new one in the folder of the moment.
TEST(LogFile, AfterCloseTheNextEntryGoesToTheCurrentFolder) {
    globalHandles.logLockCreated = true;
    const int level = globalHandles.logLevel;
    globalHandles.logLevel = kLogTrace;
    for (const char* marker : {"first folder", "second folder"}) {
        const test::TemporaryFolder root;
        const test::ScopedEnvironment rootVariable("QUARNEL_ROOT", root.Path());
        CloseLogFile();
        QLOG(kLogTrace, "AfterClose", marker);
        const std::string folder = DebugLogFolder();
        const std::vector<std::string> files = test::ListFolder(folder);
        ASSERT_EQ(files.size(), 1u) << marker;
        EXPECT_NE(test::ReadFileText(folder + "/" + files[0]).find(marker), std::string::npos);
    }
    CloseLogFile();
    globalHandles.logLevel = level;
}

}  // namespace
}  // namespace quarnel
