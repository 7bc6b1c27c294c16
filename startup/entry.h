#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quarnel {

// The start-up steps before ProcessMain: diagnostic settings from the environment, the log lock
// and level names, the network facilities, the crash handler, the instance channel name.
void InitializeProcess(bool installCrashHandler = true);

// Runs the whole process life: start-up, ProcessMain, and the exit code it gives.
std::int64_t RunProcess(const std::vector<std::string>& arguments);

// The program's main: the crash reporter's internal switch (startup/crash_reporter.h), or the
// whole process life; the exit status.
int ProgramMain(int argc, char** argv);

}  // namespace quarnel
