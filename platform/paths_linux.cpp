#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/paths.h"

namespace quarnel {
namespace {

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

std::string HomeFolder() {
    std::string home = Environment("HOME");
    if (!home.empty()) {
        return home;
    }
    struct passwd entry = {};
    struct passwd* found = nullptr;
    char buffer[4096];
    if (getpwuid_r(geteuid(), &entry, buffer, sizeof buffer, &found) == 0 && found &&
        found->pw_dir) {
        return found->pw_dir;
    }
    return "/";
}

// An XDG base folder: the variable when it holds an absolute path, else HOME + fallback.
std::string XdgFolder(const char* variable, const char* fallback) {
    std::string value = Environment(variable);
    if (!value.empty() && value.front() == '/') {
        return value;
    }
    return HomeFolder() + fallback;
}

}  // namespace

std::string QuarnelRoot() {
    std::string root = Environment("QUARNEL_ROOT");
    while (root.size() > 1 && root.back() == '/') {
        root.pop_back();
    }
    if (root == "/") {
        root.clear();
    }
    return root;
}

std::string RootedPath(std::string_view absolutePath) {
    return QuarnelRoot() + std::string(absolutePath);
}

std::string DebugLogFolder() {
    if (geteuid() == 0) {
        return RootedPath("/var/log/quarnel-updater");
    }
    return RootedPath(XdgFolder("XDG_STATE_HOME", "/.local/state") + "/quarnel-updater");
}

std::string MachineRegistryFolder() {
    return RootedPath("/var/lib/quarnel-updater/registry");
}

std::string UserRegistryFolder() {
    return RootedPath(XdgFolder("XDG_CONFIG_HOME", "/.config") + "/quarnel-updater/registry");
}

std::string EventLogFolder() {
    return RootedPath("/var/lib/quarnel-updater/eventlog");
}

std::string RuntimeFolder() {
    return RootedPath("/run/quarnel-updater");
}

bool CreateFolders(const std::string& path, unsigned mode) {
    if (path.empty()) {
        return false;
    }
    for (std::size_t pos = 1; pos <= path.size(); ++pos) {
        if (pos == path.size() || path[pos] == '/') {
            const std::string part = path.substr(0, pos);
            if (::mkdir(part.c_str(), static_cast<mode_t>(mode)) == 0) {
                // mkdir narrows the mode by the umask; a folder that others must read (the
                // event log, the machine settings) would otherwise be closed to them.
                if (::chmod(part.c_str(), static_cast<mode_t>(mode)) != 0) {
                    return false;
                }
            } else if (errno != EEXIST) {
                return false;
            }
        }
    }
    struct stat info = {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace quarnel
