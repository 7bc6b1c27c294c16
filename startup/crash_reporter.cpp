#include "startup/crash_reporter.h"

#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>

#include "ddns/endpoints.h"
#include "ddns/http_client.h"
#include "diagnostics/crash_handler.h"
#include "diagnostics/crash_report.h"
#include "diagnostics/log.h"

namespace quarnel {
namespace {

// The crash window's identifier, the context of the upload.
constexpr std::int64_t kCrashWindowId = 1337;

std::string ThreadErrorSend(const std::string& report) {
    QLOG(kLogError, "ThreadErrorSend", "Crash report message = " + report);
    const std::string answer = HttpRequestString(
        "https://" + GetEndpoint(Endpoint::IssueTracker) + "/issues.xml", "POST", HttpFlagHeaders,
        kIssueTrackerKey, kIssueTrackerKey, "Content-Type: text/xml; charset=utf-8",
        BuildIssueDocument(report), {}, kCrashWindowId);
    QLOG(kLogError, "ThreadErrorSend", "Crash report result = " + answer);
    return answer;
}

std::optional<std::string> ReadReport(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return std::nullopt;
    }
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

}  // namespace

int RunCrashReporter(const std::vector<std::string>& arguments) {
    CrashReportKind kind = CrashReportKind::Send;
    if (arguments.size() != 2 || !ParseCrashReportKind(arguments[1], kind)) {
        std::cerr << "quarnel-updater: " << kCrashReportSwitch << " takes a file and a kind\n";
        return 1;
    }
    const std::optional<std::string> report = ReadReport(arguments[0]);
    if (!report) {
        std::cerr << "quarnel-updater: the crash report " << arguments[0] << " cannot be read\n";
        return 1;
    }
    if (kind == CrashReportKind::Window) {
        QLOG(kLogTrace, "ErrorHandler", "Creating error report window thread");
        const std::string text =
            "The program crashed; the crash window is not part of this build "
            "yet, so nothing was sent. The report is in " +
            arguments[0];
        QLOG(kLogError, "ThreadErrorWindow", text);
        std::cerr << "quarnel-updater: " << text << "\n" << *report;
        return 0;
    }
    QLOG(kLogTrace, "ErrorHandler", "Creating error report thread from service");
    std::cerr << "quarnel-updater: the program crashed; sending the report in " << arguments[0]
              << "\n";
    return ThreadErrorSend(*report).empty() ? 1 : 0;
}

void NoteProcessModeForCrashes(ProcessMode mode) {
    switch (mode) {
        case ModeService:
            SetCrashReportKind(CrashReportKind::Service);
            break;
        case ModeSystray:
        case ModeSetting:
        case ModeUpdate:
            SetCrashReportKind(CrashReportKind::Window);
            break;
        case ModeNone:
            SetCrashReportKind(CrashReportKind::Send);
            break;
    }
}

}  // namespace quarnel
