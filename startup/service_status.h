#pragma once

// What a user asks about the running service: its state and its newest outcome records.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quarnel {

// "running", "paused", "starting", "stopping", ... The service's own answer on its control socket
// when this user may ask it (root); else systemd's view of the unit, which any user may ask
// (over the system bus, or, without one, from the unit's control group); "not running" when
// neither knows of a running service, and "cannot tell (...)" with the reason when nobody can
// say.
std::string QueryServiceState(const std::string& name);

// The state in the output of "systemctl show --property=LoadState,ActiveState,SubState"; empty
// when the text names no state.
std::string ServiceStateFromSystemd(std::string_view showOutput);

// The newest event records of the service, newest first, at most count, one line each.
std::vector<std::string> NewestServiceEvents(const std::string& name, std::size_t count);

}  // namespace quarnel
