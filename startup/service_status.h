#pragma once

// What a user asks about the running service: its state and its newest outcome records.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quarnel {

enum class ServiceRunState {
    Running,  // also while it continues after a pause
    Paused,   // also while it pauses
    Starting,
    Stopping,
    Stopped,
    Failed,   // ended with a failure; systemd may be restarting it
    Unknown,  // nobody can say
};

struct ServiceState {
    ServiceRunState state = ServiceRunState::Unknown;
    // "running", "paused", "starting", "stopping", ...; "not running" when nothing knows of a
    // running service, "cannot tell (...)" with the reason when nobody can say.
    std::string text;
};

// The service's own answer on its control socket when this user may ask it (root); else
// systemd's view of the unit, which any user may ask (over the system bus, or, without one,
// from the unit's control group).
ServiceState QueryServiceState(const std::string& name);

// A state of the service library (ServiceStopped, ServiceRunning, ...).
ServiceState ServiceStateOf(std::uint32_t currentState);

// The state in the output of "systemctl show --property=LoadState,ActiveState,SubState"; an
// empty text when the output names no state.
ServiceState ServiceStateFromSystemd(std::string_view showOutput);

// "running", "paused", "starting", "stopping", "stopped", "failed", "unknown".
std::string_view ServiceRunStateName(ServiceRunState state);

// The newest event records of the service, newest first, at most count, one line each.
std::vector<std::string> NewestServiceEvents(const std::string& name, std::size_t count);

}  // namespace quarnel
