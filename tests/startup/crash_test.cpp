// The crash handler: the codes and texts a fault is reported with, the issue document, and real
// processes that fault on purpose (the program built with its test-only fault trigger) reporting
// to the provider emulator's issue tracker.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "diagnostics/crash_report.h"
#include "platform/paths.h"
#include "startup/crash_reporter.h"
#include "startup/entry.h"
#include "tests/fixtures/endpoint_overrides.h"
#include "tests/fixtures/provider_emulator.h"
#include "tests/fixtures/request_record.h"
#include "tests/support/child_process.h"
#include "tests/support/test_support.h"

namespace quarnel {
namespace {

struct SignalCase {
    int signal;
    int signalCode;
    std::uint64_t address;
    std::uint32_t code;
};

TEST(CrashCodeTest, SignalsMapToTheExceptionCodes) {
    const std::uint64_t stack = 0x7ffd00010000;
    const SignalCase cases[] = {
        {SIGSEGV, SEGV_MAPERR, 0, 0xC0000005},         {SIGSEGV, SEGV_ACCERR, 0x1000, 0xC0000005},
        {SIGSEGV, SEGV_MAPERR, stack - 8, 0xC00000FD}, {SIGBUS, BUS_ADRALN, 0x1001, 0x80000002},
        {SIGBUS, BUS_OBJERR, 0x1000, 0xC0000006},      {SIGFPE, FPE_INTDIV, 0, 0xC0000094},
        {SIGFPE, FPE_INTOVF, 0, 0xC0000095},           {SIGFPE, FPE_FLTDIV, 0, 0xC000008E},
        {SIGFPE, FPE_FLTINV, 0, 0xC0000090},           {SIGFPE, FPE_FLTSUB, 0, 0xC000008C},
        {SIGILL, ILL_ILLOPN, 0, 0xC000001D},           {SIGILL, ILL_PRVOPC, 0, 0xC0000096},
        {SIGTRAP, TRAP_BRKPT, 0, 0x80000003},          {SIGTRAP, TRAP_TRACE, 0, 0x80000004},
    };
    for (const SignalCase& c : cases) {
        EXPECT_EQ(CrashExceptionCode(c.signal, c.signalCode, c.address, stack), c.code)
            << "signal " << c.signal << " code " << c.signalCode;
    }
    EXPECT_STREQ(CrashExceptionText(0xC0000094), "Division by zero ");
    EXPECT_STREQ(CrashExceptionText(0xC0000091), "Floating-point overflow (exponent to great)");
    EXPECT_STREQ(CrashExceptionText(0x12345678), "Unknown error code");
}

TEST(CrashIssueTest, TheDocumentKeepsAReportThatHoldsTheSectionEnd) {
    EXPECT_EQ(CdataSections("a]]>b]]>"), "<![CDATA[a]]]]><![CDATA[>b]]]]><![CDATA[>]]>");
    EXPECT_EQ(BuildIssueDocument("line\r\n"),
              "<?xml version=\"1.0\"?>\r\n<issue><project_id>1</project_id><subject><![CDATA["
              "Crash Report Build 294]]></subject><description><![CDATA[line\r\n]]>"
              "</description></issue>");
}

TEST(CrashReportTest, TheSourceLineTakesThePlaceOfTheUnknownLine) {
    CrashDetails details;
    details.code = 0xC0000094;
    details.codeAddress = 4096;
    char buffer[4096];
    const std::string report(buffer, FormatCrashReport(details, buffer, sizeof buffer));
    EXPECT_EQ(ReportedCodeAddress(report), 4096u);
    const std::string known = WithSourceLine(report, 52, "update_cycle.cpp");
    EXPECT_NE(known.find("\r\nCode Address:    4096\r\nSourcecode line: 52\r\n"
                         "Sourcecode file: update_cycle.cpp\r\n\r\nRegister content:"),
              std::string::npos)
        << known;
    // A report without the line, or without a readable address, is left as it is.
    EXPECT_EQ(WithSourceLine(known, 1, "other.cpp"), known);
    EXPECT_FALSE(ReportedCodeAddress("\r\nCode Address:    x1\r\n").has_value());
    EXPECT_FALSE(ReportedCodeAddress("\r\nCode Address:    12").has_value());
}

// In a forked child: whether start-up replaces the SIGSEGV handler it found (the sanitizers'
// runtime installs one of its own before main).
bool StartUpInstallsAHandler(bool installCrashHandler) {
    return test::RunInForkedChild([installCrashHandler] {
               struct sigaction before = {};
               sigaction(SIGSEGV, nullptr, &before);
               InitializeProcess(installCrashHandler);
               struct sigaction after = {};
               sigaction(SIGSEGV, nullptr, &after);
               const bool replaced = after.sa_sigaction != before.sa_sigaction;
               return replaced && (after.sa_flags & SA_ONSTACK) != 0 ? 1 : 0;
           }) == 1;
}

TEST(CrashHandlerTest, StartUpInstallsTheHandlerExceptForTheReporter) {
    test::TemporaryFolder root;
    test::ScopedEnvironment rootEnvironment("QUARNEL_ROOT", root.Path());
    EXPECT_TRUE(StartUpInstallsAHandler(true));
    EXPECT_FALSE(StartUpInstallsAHandler(false));
    // A run that never crashes leaves nothing on disk for crashes.
    EXPECT_TRUE(test::ListFolder(root.Path()).empty());
}

// The report file's lines (CR LF removed).
std::vector<std::string> ReportLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end = text.find("\r\n"); end != std::string::npos;
         end = text.find("\r\n", start)) {
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

class CrashProcessTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(emulator_.Start());
        ASSERT_TRUE(test::SetEndpointOverride(
            Endpoint::IssueTracker, "127.0.0.1:" + std::to_string(emulator_.HttpsPort())));
    }

    // Runs the faulting program; its exit code, or -1 when a signal ended it.
    int RunFault(const std::string& fault, const std::string& report = "send",
                 const std::string& reporterFault = "",
                 const char* program = QUARNEL_FAULTING_PROGRAM) {
        std::string sanitizer =
            "handle_segv=0:handle_sigbus=0:handle_sigfpe=0:handle_sigill=0:"
            "handle_abort=0:allow_user_segv_handler=1";
        if (const char* options = std::getenv("ASAN_OPTIONS")) {
            sanitizer = std::string(options) + ":" + sanitizer;
        }
        const bool started = process_.Start(program, {},
                                            {{"QUARNEL_ROOT", root_.Path()},
                                             {"SSL_CERT_FILE", emulator_.CaFile()},
                                             {"ASAN_OPTIONS", sanitizer},
                                             {"QUARNEL_TEST_FAULT", fault},
                                             {"QUARNEL_TEST_FAULT_REPORT", report},
                                             {"QUARNEL_TEST_FAULT_IN_REPORTER", reporterFault},
                                             {"QT_QPA_PLATFORM", ""},
                                             {"WAYLAND_DISPLAY", ""},
                                             {"DISPLAY", ""}});
        return started ? process_.Wait(30000) : -2;
    }

    std::vector<std::string> ReportFiles() const {
        return test::ListFolder(DebugLogFolder() + "/crash");
    }

    // The lines of the one report kept (the file is removed).
    std::vector<std::string> TakeReport(std::string* text = nullptr) const {
        const std::vector<std::string> files = ReportFiles();
        if (files.size() != 1) {
            ADD_FAILURE() << files.size() << " reports kept";
            return {};
        }
        const std::string path = DebugLogFolder() + "/crash/" + files[0];
        const std::string content = test::ReadFileText(path);
        std::remove(path.c_str());
        if (text != nullptr) {
            *text = content;
        }
        return ReportLines(content);
    }

    std::vector<test::RequestRecord> Issues() const {
        std::vector<test::RequestRecord> issues;
        for (const test::RequestRecord& record : test::ParseRequestRecords(emulator_.Requests())) {
            if (record.target == "/issues.xml") {
                issues.push_back(record);
            }
        }
        return issues;
    }

    test::TemporaryFolder root_;
    test::ScopedEnvironment rootEnvironment_{"QUARNEL_ROOT", root_.Path()};
    test::ProviderEmulator emulator_;
    test::ChildProcess process_;
};

// The lines that the faulting program's function of that name spans: from the line that
// declares it to its closing brace; {0, 0} when it is not found.
std::pair<int, int> FunctionLines(const std::string& function) {
    std::istringstream source(test::ReadFileText(QUARNEL_FAULTING_SOURCE));
    int first = 0;
    int number = 0;
    for (std::string line; std::getline(source, line);) {
        ++number;
        if (first == 0 && line.starts_with("[[gnu::noinline]]") &&
            line.find(" " + function + "(") != std::string::npos) {
            first = number;
        } else if (first != 0 && line == "}") {
            return {first, number};
        }
    }
    return {0, 0};
}

struct FaultCase {
    const char* fault;
    const char* message;
    const char* code;
    bool targetLine;
    const char* function;  // of the faulting program, where the fault is
};

TEST_F(CrashProcessTest, EachFaultIsReportedWithItsSourceLineAndPostedToTheTracker) {
    const FaultCase cases[] = {
        {"null-write", "Invalid memory access", "-1073741819", true, "NullWrite"},
        {"divide", "Division by zero ", "-1073741676", false, "Divide"},
        {"illegal", "Illegal instruction", "-1073741795", false, "Illegal"},
        {"breakpoint", "Debugger breakpoint reached", "-2147483645", false, "Breakpoint"},
        {"stack-overflow", "Stack overflow", "-1073741571", false, "Recurse"},
    };
    for (const FaultCase& c : cases) {
        SCOPED_TRACE(c.fault);
        const std::size_t postedBefore = Issues().size();
        EXPECT_EQ(RunFault(c.fault), 0) << process_.Output();
        std::string text;
        const std::vector<std::string> lines = TakeReport(&text);
        ASSERT_EQ(lines.size(), c.targetLine ? 30u : 29u) << text;
        EXPECT_EQ(lines[0], "A critical program error was detected:");
        EXPECT_EQ(lines[3], "Build:           294");
        EXPECT_EQ(lines[5], std::string("Error Message:   ") + c.message);
        EXPECT_EQ(lines[6], std::string("Error Code:      ") + c.code);
        EXPECT_TRUE(lines[7].starts_with("Code Address:    ")) << lines[7];
        EXPECT_EQ(lines[8].starts_with("Target Address:  0"), c.targetLine);
        const std::size_t next = c.targetLine ? 9 : 8;
        const auto [first, last] = FunctionLines(c.function);
        ASSERT_NE(first, 0) << c.function;
        ASSERT_TRUE(lines[next].starts_with("Sourcecode line: ")) << text;
        const int line = std::atoi(lines[next].c_str() + 17);
        EXPECT_TRUE(line >= first && line <= last)
            << text << c.function << " spans " << first << " to " << last;
        EXPECT_EQ(lines[next + 1], "Sourcecode file: faulting_program.cpp");
        EXPECT_EQ(lines[next + 3], "Register content:");
        EXPECT_TRUE(lines[next + 4].starts_with("RAX = "));
        EXPECT_TRUE(lines.back().starts_with("Flags = "));

        const std::vector<test::RequestRecord> issues = Issues();
        ASSERT_EQ(issues.size(), postedBefore + 1);
        const test::RequestRecord& issue = issues.back();
        EXPECT_EQ(issue.method, "POST");
        EXPECT_EQ(issue.body, BuildIssueDocument(text));
        EXPECT_EQ(issue.Header("Content-Type").value_or(""), "text/xml; charset=utf-8");
        EXPECT_EQ(
            issue.Header("Authorization").value_or(""),
            "Basic " + std::string("NWYwYzZlMmE5YjE0ZDdlM2M4YTFmNmIwZDJlNGM3YTliM2Y1ZTFkODo1Zj"
                                   "BjNmUyYTliMTRkN2UzYzhhMWY2YjBkMmU0YzdhOWIzZjVlMWQ4"));
    }
}

TEST_F(CrashProcessTest, WithoutDebugInformationTheReportSaysTheLineIsUnknown) {
    EXPECT_EQ(RunFault("illegal", "send", "", QUARNEL_FAULTING_STRIPPED), 0) << process_.Output();
    const std::vector<std::string> lines = TakeReport();
    ASSERT_EQ(lines.size(), 28u);
    EXPECT_EQ(lines[8], kUnknownSourceLine);
    EXPECT_EQ(lines[10], "Register content:");
    EXPECT_EQ(Issues().size(), 1u);
}

TEST_F(CrashProcessTest, AFaultWhileHoldingTheForkHandlersLockIsStillReported) {
    EXPECT_EQ(RunFault("null-write-in-fork-lock"), 0) << process_.Output();
    EXPECT_EQ(Issues().size(), 1u);
}

TEST_F(CrashProcessTest, ACrashOfTheReporterEndsOnlyTheReporter) {
    EXPECT_EQ(RunFault("null-write", "send", "null-write"), 0) << process_.Output();
    EXPECT_TRUE(ReportFiles().empty());
    EXPECT_TRUE(Issues().empty());
}

TEST_F(CrashProcessTest, AnAbortIsNoProcessorFaultAndKeepsItsDefaultAction) {
    EXPECT_EQ(RunFault("abort"), -1);
    EXPECT_TRUE(Issues().empty());
}

TEST_F(CrashProcessTest, TheServiceEndsWithAFailureStatusAfterSending) {
    EXPECT_EQ(RunFault("null-write", "service"), 128 + SIGSEGV) << process_.Output();
    EXPECT_EQ(Issues().size(), 1u);
}

TEST_F(CrashProcessTest, AWindowModeWithoutADisplaySaysSoAndSendsNothing) {
    EXPECT_EQ(RunFault("divide", "window"), 0);
    EXPECT_NE(process_.Output().find("the crash window cannot be shown (no display"),
              std::string::npos)
        << process_.Output();
    EXPECT_NE(process_.Output().find("Error Message:   Division by zero "), std::string::npos);
    EXPECT_TRUE(Issues().empty());
}

}  // namespace
}  // namespace quarnel
