#pragma once

// What a user asks about the running service: its state and its newest outcome records.

#include <cstddef>
#include <string>
#include <vector>

namespace quarnel {

// "running", "paused", "starting", "stopping", ... as the service answers an interrogation on
// its control socket; "not running" when nothing answers.
std::string QueryServiceState(const std::string& name);

// The newest event records of the service, newest first, at most count, one line each.
std::vector<std::string> NewestServiceEvents(const std::string& name, std::size_t count);

}  // namespace quarnel
