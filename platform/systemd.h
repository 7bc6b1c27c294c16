#pragma once

// The system's service manager as the service-management operations reach it.

#include <string>
#include <vector>

#include "platform/child_process.h"

namespace quarnel {

// True when systemd runs as this system's service manager: /run/systemd/system exists (the
// rule of sd_booted()). It asks about the running system, so QUARNEL_ROOT does not move it.
bool SystemdRunning();

// The systemctl program from the system's folders (never from the caller's PATH); empty when
// it is not installed.
std::string SystemctlPath();

// Runs systemctl with the arguments and a bounded wait. Its output is kept in the result for
// the caller to log, and shown to the user only when the caller decides that it failed.
CommandResult RunSystemctl(const std::vector<std::string>& arguments, int timeoutSeconds);

}  // namespace quarnel
