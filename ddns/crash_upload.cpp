#include "ddns/crash_upload.h"

#include <cstddef>

#include "ddns/endpoints.h"
#include "diagnostics/crash_report.h"
#include "diagnostics/log.h"

namespace quarnel {

std::string SendCrashReport(const std::string& report, const HttpProgressCallback& onProgress) {
    QLOG(kLogError, "ThreadErrorSend", "Crash report message = " + report);
    const std::string answer = HttpRequestString(
        "https://" + GetEndpoint(Endpoint::IssueTracker) + "/issues.xml", "POST", HttpFlagHeaders,
        kIssueTrackerKey, kIssueTrackerKey, "Content-Type: text/xml; charset=utf-8",
        BuildIssueDocument(report), {}, kCrashWindowId, {}, onProgress);
    QLOG(kLogError, "ThreadErrorSend", "Crash report result = " + answer);
    return answer;
}

bool IsCrashReportAccepted(std::string_view answer) {
    if (answer.find("Status: 201") != std::string_view::npos) {
        return true;
    }
    // Trackers that send no Status header: "HTTP/1.1 201 Created" as the first line.
    const std::string_view statusLine = answer.substr(0, answer.find("\r\n"));
    if (statusLine.substr(0, 5) != "HTTP/") {
        return false;
    }
    const std::size_t blank = statusLine.find(' ');
    if (blank == std::string_view::npos) {
        return false;
    }
    const std::string_view rest = statusLine.substr(blank + 1);
    return rest.substr(0, 3) == "201" && (rest.size() == 3 || rest[3] == ' ');
}

}  // namespace quarnel
