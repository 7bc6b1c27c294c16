#include "startup/service_status.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <optional>

#include "diagnostics/log.h"
#include "libraries/src/service/service_control.h"
#include "libraries/src/service/service_library.h"
#include "libraries/src/service/unit_file.h"
#include "platform/file_io.h"
#include "platform/paths.h"
#include "platform/systemd.h"
#include "platform/text.h"

namespace quarnel {
namespace {

constexpr int kSystemctlTimeoutSeconds = 10;
constexpr std::size_t kMaximumGroupListSize = 64 * 1024;

// The control group that systemd (PID 1) manages, from its own entry in /proc/1/cgroup ("0::"
// for the unified hierarchy, "name=systemd" for the legacy one): "/" on a machine, deeper when
// systemd runs in a container or below another manager.
std::string ManagerGroup() {
    std::vector<std::uint8_t> bytes;
    if (!ReadWholeFile("/proc/1/cgroup", kMaximumGroupListSize, bytes)) {
        return "/";
    }
    std::string group = "/";
    for (const std::string& line : SplitText(std::string(bytes.begin(), bytes.end()), '\n')) {
        for (const std::string_view prefix : {"0::", "name=systemd:"}) {
            const std::size_t at = line.find(prefix);
            if (at != std::string::npos && (at == 0 || line[at - 1] == ':')) {
                group = line.substr(at + prefix.size());
            }
        }
    }
    constexpr std::string_view kInitScope = "/init.scope";
    if (group.ends_with(kInitScope)) {
        group.erase(group.size() - kInitScope.size());
    }
    return group.empty() ? "/" : group;
}

// Whether the unit's control group holds processes, which any user may read: a stopped unit
// has no group in systemd's system slice. Nothing when that slice is not found.
std::optional<bool> UnitHasProcesses(const std::string& unit) {
    std::string group = ManagerGroup();
    if (group.back() != '/') {
        group += '/';
    }
    // The unified hierarchy, then the hybrid layout's, then the legacy one's.
    for (const char* hierarchy : {"", "/unified", "/systemd"}) {
        const std::string slice =
            std::string("/sys/fs/cgroup") + hierarchy + group + "system.slice";
        struct stat info = {};
        if (::stat(slice.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
            continue;
        }
        std::vector<std::uint8_t> processes;
        return ReadWholeFile(slice + "/" + unit + "/cgroup.procs", kMaximumGroupListSize,
                             processes) &&
               !processes.empty();
    }
    return std::nullopt;
}

}  // namespace

ServiceState ServiceStateFromSystemd(std::string_view showOutput) {
    std::string load;
    std::string active;
    std::string sub;
    for (std::string& line : SplitText(showOutput, '\n')) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        const std::size_t equals = line.find('=');
        const std::string key = line.substr(0, equals);
        const std::string value = equals == std::string::npos ? "" : line.substr(equals + 1);
        if (key == "LoadState") {
            load = value;
        } else if (key == "ActiveState") {
            active = value;
        } else if (key == "SubState") {
            sub = value;
        }
    }
    if (load == "not-found" || active == "inactive") {
        return {ServiceRunState::Stopped, "not running"};
    }
    if (active == "active" || active == "reloading") {
        return {ServiceRunState::Running, "running"};
    }
    if (active == "failed") {
        return {ServiceRunState::Failed, "failed (journalctl -u quarnel-updater says why)"};
    }
    if (active == "activating") {
        return sub == "auto-restart"
                   ? ServiceState{ServiceRunState::Failed, "restarting after a failure"}
                   : ServiceState{ServiceRunState::Starting, "starting"};
    }
    if (active == "deactivating") {
        return {ServiceRunState::Stopping, "stopping"};
    }
    return {};
}

ServiceState QueryServiceState(const std::string& name) {
    ServiceStatus status;
    if (SendServiceControl(name, ServiceControlInterrogate, status)) {
        return ServiceStateOf(status.currentState);
    }
    if (QuarnelRoot().empty() && SystemdRunning()) {
        const CommandResult shown =
            RunSystemctl({"show", "--property=LoadState,ActiveState,SubState", UnitFileName(name)},
                         kSystemctlTimeoutSeconds);
        const ServiceState state = shown.finished && shown.exitCode == 0
                                       ? ServiceStateFromSystemd(shown.output)
                                       : ServiceState{};
        if (!state.text.empty()) {
            return state;
        }
        // A user reaches systemd over the system bus; without one, the unit's control group,
        // which every user may read, still shows whether its processes run.
        QLOG(kLogWarn, "QueryServiceState", "systemctl show gave no state: " + shown.output);
        const std::optional<bool> running = UnitHasProcesses(UnitFileName(name));
        if (running) {
            return *running ? ServiceState{ServiceRunState::Running, "running"}
                            : ServiceState{ServiceRunState::Stopped, "not running"};
        }
        return {ServiceRunState::Unknown, "cannot tell (systemd did not say)"};
    }
    // Without systemd only the service itself knows, and its control socket serves root and the
    // service's own user only.
    const std::string socket = ServiceControlSocketPath();
    struct stat info = {};
    if (::stat(socket.c_str(), &info) == 0 && ::access(socket.c_str(), W_OK) != 0) {
        return {ServiceRunState::Unknown, "cannot tell (only root may ask the service)"};
    }
    return {ServiceRunState::Stopped, "not running"};
}

}  // namespace quarnel
