#include <string>
#include <vector>

#include "platform/file_io.h"
#include "platform/systemd.h"

namespace quarnel {

bool SystemdRunning() {
    return IsDirectory("/run/systemd/system");
}

std::string SystemctlPath() {
    return FindExecutable("systemctl", "/usr/bin:/bin:/usr/sbin:/sbin");
}

CommandResult RunSystemctl(const std::vector<std::string>& arguments, int timeoutSeconds) {
    const std::string program = SystemctlPath();
    if (program.empty()) {
        return {};
    }
    std::vector<std::string> command{program};
    command.insert(command.end(), arguments.begin(), arguments.end());
    return RunCommand(command, timeoutSeconds * 1000);
}

}  // namespace quarnel
