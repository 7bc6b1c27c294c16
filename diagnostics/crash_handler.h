#pragma once

// The process's handler for fatal processor faults: SIGSEGV, SIGBUS, SIGFPE, SIGILL and SIGTRAP,
// run on an alternate signal stack so that a stack overflow of the main thread is caught too.
//
// On a fault the handler, without allocating or taking a lock:
//   1. writes the crash report (diagnostics/crash_report.h) into a memory file made when the
//      handler is installed (memfd: private to the process, nothing on disk, no folder made by a
//      run that never crashes);
//   2. starts the program itself as "<program> --crash-report <descriptor> <kind>" with that
//      file open as <descriptor>, and waits for it (the reporter: startup/crash_reporter.h);
//   3. ends the process: exit code 0, or 128 + the signal number when it hosts the service, so
//      that the service manager sees a failure and restarts the service.
// Another thread that faults meanwhile waits for that end. A fault inside the handler (or before
// the reporter has replaced the forked child's image) takes the signal's default action; the
// reporter runs without the handler, so its own crash ends only itself.
//
// SIGABRT is not a processor fault and keeps its default action (a core file where enabled).
// Only the main thread has the alternate stack: a stack overflow of another thread ends the
// process by the default action, without a report.

#include <optional>
#include <string>

namespace quarnel {

// What the reporter does with a report.
enum class CrashReportKind : int {
    Send = 0,     // send it at once (command-line runs)
    Window = 1,   // show it in the crash window (tray, settings and update processes)
    Service = 2,  // send it at once; the process ends with a failure status
};

// The internal switch that starts the reporter.
inline constexpr const char* kCrashReportSwitch = "--crash-report";

// Installs the handler; false (and the faults keep their default action) when the memory file or
// the signal stack cannot be set up.
bool InstallCrashHandler();

// Chosen once the process knows its mode; Send until then.
void SetCrashReportKind(CrashReportKind kind);
CrashReportKind GetCrashReportKind();

// The kind's name on the reporter's command line ("send", "window", "service"), and back
// (nothing for an unknown name).
const char* CrashReportKindName(CrashReportKind kind);
bool ParseCrashReportKind(const std::string& name, CrashReportKind& kind);

// The reporter's side: the report that the crashed process handed over, named by the argument it
// gave (the number of the inherited memory file, or of the inherited handle on Windows); nothing
// when that names no readable report.
std::optional<std::string> ReadCrashReportFile(const std::string& argument);

}  // namespace quarnel
