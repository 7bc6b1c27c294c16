#pragma once

// Running another program without a shell: an argument vector, standard input from /dev/null,
// standard output and error captured together, and a bounded wait after which the program is
// killed. Nothing it prints reaches the user unless the caller passes it on.

#include <string>
#include <vector>

#include "platform/native_handle.h"

namespace quarnel {

struct CommandResult {
    bool started = false;   // the program could be started
    bool finished = false;  // it ended by itself within the time allowed
    int exitCode = -1;      // its exit status when it ended normally, else -1
    std::string output;     // standard output and standard error, at most 64 KiB
};

// Runs arguments[0] (a full path) with the arguments, the current environment and a clean
// signal state. After timeoutMilliseconds the program is killed and reaped.
CommandResult RunCommand(const std::vector<std::string>& arguments, int timeoutMilliseconds);

// Starts arguments[0] (a full path) with the arguments and does not wait for it: it runs in a
// session of its own and is not this process's child, so nothing is left to reap. True when the
// program was started.
bool StartDetachedProgram(const std::vector<std::string>& arguments);

// A started program that this process waits for: its process id and a process descriptor that
// polls readable once it has ended (close-on-exec).
struct StartedProgram {
    int processId = -1;
    UniqueHandle handle;
};
// Starts arguments[0] (a full path) with the arguments in directory (empty: the current one),
// the current environment and a clean signal state, as a child of this process; its standard
// input is /dev/null. The handle is invalid when it could not be started.
StartedProgram StartProgramWithHandle(const std::vector<std::string>& arguments,
                                      const std::string& directory);
// Waits for a program started that way to end and reaps it: its exit status, or -1 when it
// ended by a signal or cannot be waited for.
int WaitForStartedProgram(StartedProgram& program);
// Waits until the program has ended without reaping it, so its handle stays its own until
// WaitForStartedProgram.
void WaitForProgramEnd(const StartedProgram& program);

// The first of the folders (colon-separated) that holds an executable file of that name, as a
// full path; empty when none does.
std::string FindExecutable(const std::string& name, const std::string& folders);

}  // namespace quarnel
