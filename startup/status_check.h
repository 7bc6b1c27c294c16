#pragma once

// "/status --check": whether the address update works, in one line and an exit code, for a
// systemd timer, a container health check or a monitoring agent.

#include <string>

#include "startup/status_report.h"

namespace quarnel {

inline constexpr int kHealthy = 0;
inline constexpr int kUnhealthy = 1;
inline constexpr int kCannotTell = 2;

struct HealthVerdict {
    int exitCode = kCannotTell;
    std::string line;  // "OK: ...", "FAIL: ..." or "UNKNOWN: ...", without a line feed
};

// Healthy when the service runs and the provider accepted the last update (good, nochg), and
// the service has confirmed it since within twice the interval plus the quarter of it that the
// timer adds: by that update or by a check that found the address unchanged. Unhealthy, saying
// why, when the service does not run, the provider refused or is not reached, no user name is
// set, the network filter holds updates back, the last check found no connectivity or address,
// or no check came in time. Cannot tell when the service's state or its last check is unknown.
HealthVerdict JudgeHealth(const StatusReport& report);

}  // namespace quarnel
