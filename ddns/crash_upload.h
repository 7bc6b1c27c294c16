#pragma once

// Posting a crash report (diagnostics/crash_report.h) as a new issue to the tracker, without Qt:
// the crash reporter sends with it at once, and the crash window of the desktop module shows it.

#include <cstdint>
#include <string>
#include <string_view>

#include "ddns/http_client.h"

namespace quarnel {

// The tracker's API key (a configuration value of this build).
inline constexpr const char* kIssueTrackerKey = "5f0c6e2a9b14d7e3c8a1f6b0d2e4c7a9b3f5e1d8";
// The crash window's identifier: the context of the upload and of its progress calls.
inline constexpr std::int64_t kCrashWindowId = 1337;

// Logs the report (ERROR, "Crash report message = "), posts the issue document to
// "https://" + the IssueTracker endpoint + "/issues.xml" with the key as user name and password,
// logs the answer's header block ("Crash report result = ") and returns it, or the empty text.
std::string SendCrashReport(const std::string& report, const HttpProgressCallback& onProgress = {});

// Whether the answer's header block says that the tracker created the issue: a "Status: 201"
// header, or a status line with the code 201.
bool IsCrashReportAccepted(std::string_view answer);

}  // namespace quarnel
