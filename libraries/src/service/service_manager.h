#pragma once

// Installing, starting, stopping, removing and controlling the service, one call each. Every
// operation returns nonzero on success and 0 on failure; the reason is logged and, where a user
// runs the command, also printed on standard error.
//
// Where the service manager is found:
// - QUARNEL_ROOT not set: the running systemd. Without one (a container, a chroot) every
//   operation returns 0 and changes nothing.
// - QUARNEL_ROOT set: the tree below it is treated as a system image that no service manager
//   runs. The unit is written and enabled or disabled there offline (systemctl --root), which
//   never touches the running system; starting and stopping are impossible and return 0.
// ControlServiceByName goes through the service's control socket in either case.

#include <cstdint>
#include <string>

namespace quarnel {

// What the service starts after, one name a line: the network on Linux
// ("network-online.target"), the server and workstation services on Windows.
const char* ServiceDependencies();

// Writes the unit for the program and its arguments, makes systemd read it and enables it.
// Nonzero only when the unit was created and enabled and the description is not empty. An
// existing unit that already runs this program the same way makes it return 0 and change
// nothing; a unit that names another program (or the same one quoted otherwise) is replaced.
std::int64_t InstallService(const std::string& name, const std::string& displayName,
                            const std::string& programPath, const std::string& arguments,
                            const std::string& description, const std::string& dependencies);

// Starts the service and waits until systemd reports the start as done.
std::int64_t StartServiceByName(const std::string& name);
// Asks the service to stop and returns without waiting for it.
std::int64_t StopServiceByName(const std::string& name);
// Disables and removes the unit and makes systemd forget it. A running service keeps running
// until it is stopped.
std::int64_t DeleteServiceByName(const std::string& name);
// Nonzero when the unit is installed.
std::int64_t ServiceExists(const std::string& name);
// Sends a control code (for example 128, settings changed) to the running service.
std::int64_t ControlServiceByName(const std::string& name, std::uint32_t controlCode);

// Where the unit of a service lives: /etc/systemd/system/<unit> below QUARNEL_ROOT.
std::string ServiceUnitPath(const std::string& name);

}  // namespace quarnel
