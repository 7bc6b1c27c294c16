#include "startup/settings_launch.h"

#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "diagnostics/log.h"
#include "platform/child_process.h"
#include "platform/elevated_start.h"
#include "platform/global_handles.h"
#include "platform/process.h"
#include "startup/instance.h"

namespace quarnel {
namespace {

// Held while LaunchSettings starts a process and records it, so that an end that comes at once
// cannot be handled before the process is recorded (it would then never be forgotten).
std::mutex& SettingProcessLock() {
    static std::mutex lock;
    return lock;
}

}  // namespace

bool CanRunElevated() {
    return CanStartElevatedProgram();
}

std::int64_t RunElevated(const std::string& file, const std::vector<std::string>& parameters,
                         const std::string& directory, const ElevatedEndCallback& callback) {
    ElevatedStart start = StartElevatedProgram(file, parameters, directory);
    if (!start.program.handle) {
        if (start.failedProgram.empty()) {
            QLOG(kLogError, "RunElevated", start.problem);
        } else {
            QLOG_ERROR_CODE(kLogError, "RunElevated", "Unable to start " + start.failedProgram,
                            GetLastErrorCode());
        }
        return callback ? -1 : 0;
    }
    auto program = std::make_shared<StartedProgram>(std::move(start.program));
    if (!callback) {
        const int exitCode = WaitForStartedProgram(*program);
        return exitCode < 0 ? 0 : exitCode;
    }
    const NativeHandle handle = program->handle.Get();
    // The watch: one thread per started program, asleep on its process handle.
    std::thread([program, callback, handle] {
        WaitForProgramEnd(*program);
        callback(handle);
        WaitForStartedProgram(*program);
    }).detach();
    return handle;
}

std::int64_t LaunchSettings() {
    const std::lock_guard<std::mutex> guard(SettingProcessLock());
    if (globalHandles.settingProcess.load() != kNoNativeHandle) {
        QLOG(kLogDebug, "LaunchSettings", "Setting process is running; showing its window");
        BroadcastInstanceMessage(InstanceCodeShow);
        return 0;
    }
    const std::int64_t handle =
        RunElevated(GetProgramPath(), {"/setting"}, CurrentDirectory(), SettingProcessEnded);
    globalHandles.settingProcess.store(static_cast<NativeHandle>(handle));
    return 0;
}

void SettingProcessEnded(NativeHandle processHandle) {
    const std::lock_guard<std::mutex> guard(SettingProcessLock());
    NativeHandle expected = processHandle;
    if (globalHandles.settingProcess.compare_exchange_strong(expected, kNoNativeHandle)) {
        QLOG(kLogDebug, "SettingProcessEnded", "Setting process has ended");
    }
}

}  // namespace quarnel
