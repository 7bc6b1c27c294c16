#pragma once

// Starting a program with administrator rights: on Linux as root, directly when this process is
// root and through pkexec otherwise (never from a PATH entry a user controls); on Windows through
// the shell's "runas" verb.

#include <string>
#include <vector>

#include "platform/child_process.h"

namespace quarnel {

struct ElevatedStart {
    StartedProgram program;
    // When nothing started: the program that could not be started (the last error code tells
    // why), or empty when this machine has no way to elevate; problem then says so.
    std::string failedProgram;
    std::string problem;
};

// Starts file (a full path) with the parameters in directory (empty: the current one).
ElevatedStart StartElevatedProgram(const std::string& file,
                                   const std::vector<std::string>& parameters,
                                   const std::string& directory);

// Whether this machine has a way to start a program elevated (root, or pkexec installed; the
// shell's "runas" on Windows).
bool CanStartElevatedProgram();

// The current working folder, or the root folder when it cannot be named.
std::string CurrentDirectory();

}  // namespace quarnel
