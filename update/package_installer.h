#pragma once

#include <string>
#include <vector>

namespace quarnel {

// The command that installs a downloaded Debian package, run without a shell: apt-get (which
// also fetches what the package depends on), else dpkg, from the system's own folders only;
// through pkexec when the caller is not root. Empty when the machine has no way to.
std::vector<std::string> PackageInstallCommand(const std::string& packagePath, bool asRoot);

// Runs that command for the package and waits for it (at most half an hour); true when it ended
// with 0. Logs what it ran and its output.
bool InstallPackage(const std::string& packagePath);

}  // namespace quarnel
