#pragma once

// ProcessMain: walks the command line, runs every one-shot switch in order and enters at most
// one long-running mode. Its result is the process exit code. "--help", "-h", "/?" and
// "--version" anywhere on the command line print their text and nothing else runs, so asking
// what a switch does never does it.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/product.h"
#include "startup/status_command.h"

namespace quarnel {

enum ProcessMode : int {
    ModeNone = 0,
    ModeSystray = 1,
    ModeSetting = 2,
    ModeService = 3,
    ModeUpdate = 4,
};

// The operations ProcessMain dispatches to. Each returns its own result as the switch table gives
// it; tests replace them to observe the scan.
struct ProcessActions {
    std::function<std::int64_t()> recordClientIdentity;
    std::function<std::int64_t()> migrateSettings;
    std::function<std::int64_t(const std::string& name, const std::string& displayName,
                               const std::string& programPath, const std::string& arguments,
                               const std::string& description, const std::string& dependencies)>
        installService;
    std::function<std::int64_t(const std::string& name)> startServiceByName;
    std::function<std::int64_t(const std::string& name)> stopServiceByName;
    std::function<std::int64_t(const std::string& name)> deleteServiceByName;
    // Broadcasts the instance message with a code; nonzero when it was posted.
    std::function<std::int64_t(int code)> broadcastInstanceMessage;
    std::function<std::int64_t(const std::string& path)> verifyFileSignature;
    // The root step of the software update for the offered file and version; its exit code.
    std::function<std::int64_t(const std::string& path, const std::string& version)> installUpdate;
    // Returns the autostart state read back afterwards.
    std::function<std::int64_t(const std::string& name, const std::string& programPath, int flags)>
        setAutostart;
    // The settings and the service's state without a window ("/configure", "/status"); 1 on
    // success. "/status" takes "--json" or "--check" right after it.
    std::function<std::int64_t()> configure;
    std::function<std::int64_t(StatusForm form)> showStatus;
    // "--help" and "--version": print on standard output; 0 on success.
    std::function<std::int64_t()> showUsage;
    std::function<std::int64_t()> showVersion;
    std::function<std::int64_t()> readSoftwareBeta;
    std::function<std::int64_t()> runSystrayProcess;
    std::function<std::int64_t()> runSettingProcess;
    std::function<std::int64_t()> runServiceProcess;
    std::function<std::int64_t(bool beta)> runUpdateProcess;
    std::function<std::string()> programPath;
    std::function<std::string(int textId)> loadText;
};

// The real operations of this build.
ProcessActions DefaultProcessActions();

std::int64_t ProcessMain(const std::vector<std::string>& arguments, const ProcessActions& actions);

}  // namespace quarnel
