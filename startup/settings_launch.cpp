#include "startup/settings_launch.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <mutex>
#include <thread>

#include "diagnostics/log.h"
#include "platform/child_process.h"
#include "platform/global_handles.h"
#include "platform/process.h"
#include "startup/instance.h"

namespace quarnel {
namespace {

// Where pkexec is looked for; a PATH entry a user controls is never used for elevation.
constexpr const char* kTrustedFolders = "/usr/bin:/bin:/usr/sbin:/sbin";

// Held while LaunchSettings starts a process and records it, so that an end that comes at once
// cannot be handled before the process is recorded (it would then never be forgotten).
std::mutex& SettingProcessLock() {
    static std::mutex lock;
    return lock;
}

std::string CurrentDirectory() {
    std::string path(4096, '\0');
    if (::getcwd(path.data(), path.size()) == nullptr) {
        return "/";
    }
    path.resize(path.find('\0'));
    return path;
}

// The command that runs the program as root, or nothing when this machine has no way to.
std::vector<std::string> ElevatedCommand(const std::string& file,
                                         const std::vector<std::string>& parameters) {
    std::vector<std::string> command;
    if (::geteuid() != 0) {
        const std::string pkexec = FindExecutable("pkexec", kTrustedFolders);
        if (pkexec.empty()) {
            QLOG(kLogError, "RunElevated", "pkexec is not installed; cannot start " + file);
            return command;
        }
        command.push_back(pkexec);
    }
    command.push_back(file);
    command.insert(command.end(), parameters.begin(), parameters.end());
    return command;
}

}  // namespace

bool CanRunElevated() {
    return ::geteuid() == 0 || !FindExecutable("pkexec", kTrustedFolders).empty();
}

std::int64_t RunElevated(const std::string& file, const std::vector<std::string>& parameters,
                         const std::string& directory, const ElevatedEndCallback& callback) {
    const std::vector<std::string> command = ElevatedCommand(file, parameters);
    if (command.empty()) {
        return callback ? -1 : 0;
    }
    auto program = std::make_shared<StartedProgram>(StartProgramWithHandle(command, directory));
    if (!program->handle) {
        QLOG_ERROR_CODE(kLogError, "RunElevated", "Unable to start " + command[0],
                        GetLastErrorCode());
        return callback ? -1 : 0;
    }
    if (!callback) {
        const int exitCode = WaitForStartedProgram(*program);
        return exitCode < 0 ? 0 : exitCode;
    }
    const int handle = program->handle.Get();
    // The watch: one thread per started program, asleep on its process descriptor.
    std::thread([program, callback, handle] {
        pollfd ended{handle, POLLIN, 0};
        while (::poll(&ended, 1, -1) < 0 && errno == EINTR) {
        }
        callback(handle);
        WaitForStartedProgram(*program);
    }).detach();
    return handle;
}

std::int64_t LaunchSettings() {
    const std::lock_guard<std::mutex> guard(SettingProcessLock());
    if (globalHandles.settingProcess.load() >= 0) {
        QLOG(kLogDebug, "LaunchSettings", "Setting process is running; showing its window");
        BroadcastInstanceMessage(InstanceCodeShow);
        return 0;
    }
    const std::int64_t handle =
        RunElevated(GetProgramPath(), {"/setting"}, CurrentDirectory(), SettingProcessEnded);
    globalHandles.settingProcess.store(static_cast<int>(handle));
    return 0;
}

void SettingProcessEnded(int processHandle) {
    const std::lock_guard<std::mutex> guard(SettingProcessLock());
    int expected = processHandle;
    if (globalHandles.settingProcess.compare_exchange_strong(expected, -1)) {
        QLOG(kLogDebug, "SettingProcessEnded", "Setting process has ended");
    }
}

}  // namespace quarnel
