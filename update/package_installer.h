#pragma once

#include <string>
#include <vector>

namespace quarnel {

// The command that installs a Debian package file, run as root without a shell: apt-get (which
// also fetches what the package depends on), else dpkg, from the system's own folders only.
// Empty when the machine has no way to, or the path is not a full one.
std::vector<std::string> PackageInstallCommand(const std::string& packagePath);

// Runs that command for the package and waits for it (at most half an hour); true when it ended
// with 0. Logs what it ran and its output. Only the root step of the update
// (update/privileged_install.h) calls it, for its own checked copy.
bool InstallPackage(const std::string& packagePath);

}  // namespace quarnel
