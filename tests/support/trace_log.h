#pragma once

// The debug log as tests read it: turned on at TRACE into a new file below QUARNEL_ROOT (which
// must be set), read back, and its entries counted.

#include <string>

namespace quarnel::test {

void EnableTraceLog();
std::string TraceLogText();
// How many entries of the log text were written by procedure with exactly this message.
int CountLogEntries(const std::string& log, const std::string& procedure,
                    const std::string& message);

}  // namespace quarnel::test
