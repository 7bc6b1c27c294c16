#include "update/package_installer.h"

#include <unistd.h>

#include "diagnostics/log.h"
#include "platform/child_process.h"

namespace quarnel {
namespace {

// A PATH entry a user controls is never used for what runs as root.
constexpr const char* kSystemFolders = "/usr/bin:/bin:/usr/sbin:/sbin";
constexpr int kInstallMilliseconds = 30 * 60 * 1000;

}  // namespace

std::vector<std::string> PackageInstallCommand(const std::string& packagePath) {
    std::vector<std::string> command;
    // apt-get takes a package file only by a path with a slash in it.
    if (packagePath.empty() || packagePath.front() != '/') {
        return {};
    }
    const std::string aptGet = FindExecutable("apt-get", kSystemFolders);
    const std::string dpkg = FindExecutable("dpkg", kSystemFolders);
    if (!aptGet.empty()) {
        command.insert(command.end(), {aptGet, "install", "--yes", packagePath});
    } else if (!dpkg.empty()) {
        command.insert(command.end(), {dpkg, "--install", packagePath});
    } else {
        return {};
    }
    return command;
}

bool InstallPackage(const std::string& packagePath) {
    const std::vector<std::string> command = PackageInstallCommand(packagePath);
    if (command.empty() || ::geteuid() != 0) {
        QLOG(kLogError, "InstallPackage",
             "no apt-get or dpkg to install " + packagePath + " as root");
        return false;
    }
    std::string line;
    for (const std::string& part : command) {
        line += (line.empty() ? "" : " ") + part;
    }
    QLOG(kLogInfo, "InstallPackage", "Running " + line);
    const CommandResult result = RunCommand(command, kInstallMilliseconds);
    QLOG(kLogInfo, "InstallPackage",
         "Exit code " + std::to_string(result.exitCode) + ": " + result.output);
    return result.finished && result.exitCode == 0;
}

}  // namespace quarnel
