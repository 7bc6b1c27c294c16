#pragma once

// The crash reporter: the program started by the crash handler (diagnostics/crash_handler.h) as
// "<program> --crash-report <descriptor> <kind>" while the faulting process waits for it. It runs
// without a crash handler of its own. It reads the report from the inherited descriptor, puts the
// source line of the fault into it where debug information knows it (diagnostics/source_line.h;
// the handler cannot look it up safely), and keeps a copy as crash-<pid of the crashed
// process>.txt in DebugLogFolder()/crash (a folder private to its owner).
//
// "send" and "service": the report is logged (ERROR, "Crash report message = " and the report)
// and posted at once as a new issue, the document of BuildIssueDocument, to
// "https://" + the IssueTracker endpoint + "/issues.xml" with the tracker's key as user name and
// password (HTTP Basic); the answer's header block is logged ("Crash report result = ").
// "window": the crash window of the desktop module (ui/ui_module.h) shows the report and sends it
// when the user asks. Without a named display or the module, the reporter says so on standard
// error and in the log, prints the report, names its copy and sends nothing.

#include <string>
#include <vector>

#include "startup/process_main.h"

namespace quarnel {

// arguments: the descriptor and the kind. The exit code: 0 when the report was handled (posted and
// answered, or shown), 1 otherwise.
int RunCrashReporter(const std::vector<std::string>& arguments);

// How a fault of a process in mode is reported (called once ProcessMain has chosen the mode).
void NoteProcessModeForCrashes(ProcessMode mode);

}  // namespace quarnel
