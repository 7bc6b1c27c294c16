#pragma once

// The admin commands, given as request targets "/admin/<command>?<query>": over the admin port
// (GET or POST) and as the lines of a configuration file. README.md lists them.

#include <string>

#include "tools/provider-emulator/emulator_state.h"
#include "tools/provider-emulator/request_log.h"

namespace emulator {

struct AdminResult {
    int status = 200;
    std::string body;
};

// `stateText` is what "/admin/state" answers (the ports and paths, as in the state file).
AdminResult ApplyAdminCommand(EmulatorState& state, RequestLog& log, const std::string& stateText,
                              const std::string& target);

}  // namespace emulator
