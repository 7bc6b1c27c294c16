// The debug log's entry line and datagram header byte for byte, the clock fields included: the
// local clock (one hour east of UTC here, so a UTC time would show) of a second between the
// moments read just before and just after the entry.

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>
#include <system_error>

#include "diagnostics/log.h"
#include "platform/clock.h"
#include "platform/process.h"
#include "tests/support/test_support.h"
#include "tests/support/udp_listener.h"

namespace quarnel {
namespace {

// The process's debug log file, found through its open descriptor: the log opens one file per
// process, wherever the first entry of the process put it.
std::string OpenLogText() {
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        const std::string target = std::filesystem::read_symlink(entry.path(), error).string();
        const std::string name = std::filesystem::path(target).filename().string();
        if (!error && name.rfind("debug.", 0) == 0 && name.ends_with(".log")) {
            return test::ReadFileText(target);
        }
    }
    return {};
}

class LogLayoutTest : public ::testing::Test {
  protected:
    LogLayoutTest()
        : rootEnvironment_("QUARNEL_ROOT", root_.Path()),
          stateEnvironment_("XDG_STATE_HOME", "/state"),
          zone_("TZ", "XXX-1") {
        ::tzset();
        globalHandles.logLockCreated = true;
        globalHandles.logLevel = kLogTrace;
        globalHandles.logPort = 0;
        for (int i = 0; i < 8; ++i) {
            globalHandles.logLevelNames[i] = LogLevelNames[i];
        }
    }
    // Reads the time zone again once the variable is restored (members end in reverse order).
    struct ZoneReload {
        ~ZoneReload() { ::tzset(); }
    };

    test::TemporaryFolder root_;
    test::ScopedEnvironment rootEnvironment_;
    test::ScopedEnvironment stateEnvironment_;
    ZoneReload reload_;
    test::ScopedEnvironment zone_;
};

TEST_F(LogLayoutTest, EntryLineAndDatagramHeaderHoldTheirFieldsExactly) {
    test::UdpListener listener;
    globalHandles.logPort = listener.Port();
    const std::int64_t before = LocalClockSeconds();
    WriteLog(kLogWarn, "/src/ddns/net.cpp", "TestNetwork", 77, "marker-exact", 2);
    const std::int64_t after = LocalClockSeconds();
    ASSERT_LT(after - before, 60) << "the clock jumped";

    char thread[32];
    std::snprintf(thread, sizeof thread, "%04llX",
                  static_cast<unsigned long long>(CurrentThreadId()));
    const std::string text = OpenLogText();
    const std::size_t at = text.find("marker-exact");
    ASSERT_NE(at, std::string::npos) << text;
    const std::size_t start = text.rfind("\r\n", at);
    const std::string entry = text.substr(start == std::string::npos ? 0 : start + 2);
    bool matched = false;
    for (std::int64_t second = before; second <= after && !matched; ++second) {
        matched = entry == std::string(thread).substr(0, 4) +
                               FormatClock(" %yyyy-%mm-%dd %hh:%ii:%ss ", second) +
                               "WARN  [net.cpp:TestNetwork:0077] marker-exact\r\n"
                               "00000002: No such file or directory\r\n";
    }
    EXPECT_TRUE(matched) << entry;

    const auto datagrams = listener.Receive(5);
    ASSERT_EQ(datagrams.size(), 5u);
    ASSERT_EQ(datagrams[0].size(), 32u);
    std::uint32_t stamp = 0;
    for (int i = 3; i >= 0; --i) {
        stamp = (stamp << 8) | datagrams[0][16 + i];
    }
    EXPECT_GE(stamp, static_cast<std::uint32_t>(before));
    EXPECT_LE(stamp, static_cast<std::uint32_t>(after));
}

}  // namespace
}  // namespace quarnel
