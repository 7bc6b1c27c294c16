#pragma once

// Running another program without a shell: an argument vector, standard input from /dev/null,
// standard output and error captured together, and a bounded wait after which the program is
// killed. Nothing it prints reaches the user unless the caller passes it on.

#include <string>
#include <vector>

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

// The first of the folders (colon-separated) that holds an executable file of that name, as a
// full path; empty when none does.
std::string FindExecutable(const std::string& name, const std::string& folders);

}  // namespace quarnel
