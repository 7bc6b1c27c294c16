#include "startup/crash_reporter.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <system_error>

#include "ddns/crash_upload.h"
#include "diagnostics/crash_handler.h"
#include "diagnostics/crash_report.h"
#include "diagnostics/log.h"
#include "diagnostics/source_line.h"
#include "platform/atomic_file.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/process_control.h"
#include "startup/ui_module_loader.h"
#include "ui/ui_module.h"

namespace quarnel {
namespace {

// The reporter is started by the crashed process, which waits for it.
std::uint32_t CrashedProcessId() {
    return ReadParentProcessId(static_cast<std::uint32_t>(CurrentProcessId()));
}

// Keeps a copy in the private crash folder; its path, or the empty text when it cannot.
std::string KeepReport(const std::string& report) {
    const std::string folder = DebugLogFolder() + "/crash";
    const std::string path = folder + "/crash-" + std::to_string(CrashedProcessId()) + ".txt";
    if (!CreateFolders(folder, 0700) || !WriteFileAtomically(path, report, 0600)) {
        return "";
    }
    return path;
}

// The report with the source line of its code address, looked up in the crashed process (which
// waits for this one, so its mappings are still there); as it is when the line is unknown.
std::string WithKnownSourceLine(const std::string& report) {
    const std::optional<std::uint64_t> address = ReportedCodeAddress(report);
    if (!address) {
        return report;
    }
    const std::optional<SourceLine> source = FindSourceLine(CrashedProcessId(), *address);
    return source ? WithSourceLine(report, source->line, source->file) : report;
}

}  // namespace

int RunCrashReporter(const std::vector<std::string>& arguments) {
    CrashReportKind kind = CrashReportKind::Send;
    if (arguments.size() != 2 || !ParseCrashReportKind(arguments[1], kind)) {
        std::fprintf(stderr, "quarnel-updater: %s takes a file and a kind\n", kCrashReportSwitch);
        return 1;
    }
    std::optional<std::string> report = ReadCrashReportFile(arguments[0]);
    if (!report) {
        std::fputs("quarnel-updater: the crash report cannot be read\n", stderr);
        return 1;
    }
    report = WithKnownSourceLine(*report);
    const std::string kept = KeepReport(*report);
    if (kind == CrashReportKind::Window) {
        QLOG(kLogTrace, "ErrorHandler", "Creating error report window thread");
        if (IsDisplayNamed()) {
            if (void* entry = LoadUiModuleEntry(kUiRunCrashWindowSymbol)) {
                reinterpret_cast<QuarnelUiRunCrashWindow>(entry)(report->data(), report->size());
                return 0;
            }
        }
        const std::string text =
            "The program crashed; the crash window cannot be shown (no display or no desktop "
            "module), so nothing was sent. The report is in " +
            (kept.empty() ? std::string("no file") : kept);
        QLOG(kLogError, "ThreadErrorWindow", text);
        std::fprintf(stderr, "quarnel-updater: %s\n", text.c_str());
        std::fwrite(report->data(), 1, report->size(), stderr);
        return 0;
    }
    QLOG(kLogTrace, "ErrorHandler", "Creating error report thread from service");
    std::fprintf(stderr, "quarnel-updater: the program crashed; sending the report%s\n",
                 (kept.empty() ? std::string() : " (a copy is in " + kept + ")").c_str());
    return SendCrashReport(*report).empty() ? 1 : 0;
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
