#include "libraries/src/service/service_manager.h"

#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <vector>

#include "diagnostics/log.h"
#include "libraries/src/service/service_control.h"
#include "libraries/src/service/unit_file.h"
#include "platform/atomic_file.h"
#include "platform/file_io.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/root_only_path.h"
#include "platform/systemd.h"

namespace quarnel {
namespace {

// Bounds for systemctl: a start waits for the service's READY=1, which systemd itself gives up
// on after 90 seconds; everything else answers within seconds.
constexpr int kStartTimeoutSeconds = 120;
constexpr int kCommandTimeoutSeconds = 60;
constexpr std::size_t kMaximumUnitSize = 1024 * 1024;

enum class ManagerReach {
    None,     // no service manager: every operation fails
    Running,  // the running systemd
    Offline,  // the tree below QUARNEL_ROOT, changed offline
};

// A failure the user should see: logged and printed on standard error.
void ReportFailure(const char* procedure, const std::string& message) {
    QLOG(kLogError, procedure, message);
    std::fprintf(stderr, "quarnel-updater: %s\n", message.c_str());
}

ManagerReach FindManager(const char* procedure) {
    if (!QuarnelRoot().empty()) {
        QLOG(kLogDebug, procedure, "QUARNEL_ROOT is set: working offline on " + QuarnelRoot());
        return ManagerReach::Offline;
    }
    if (!SystemdRunning()) {
        ReportFailure(procedure, "systemd is not running on this system (no /run/systemd/system)");
        return ManagerReach::None;
    }
    if (SystemctlPath().empty()) {
        ReportFailure(procedure, "systemctl was not found");
        return ManagerReach::None;
    }
    return ManagerReach::Running;
}

// Runs systemctl; its output goes to the log, and to the user only when it failed.
bool Systemctl(const char* procedure, std::vector<std::string> arguments, int timeoutSeconds,
               bool offline = false) {
    if (offline) {
        arguments.insert(arguments.begin(), "--root=" + QuarnelRoot());
    }
    std::string command = "systemctl";
    for (const std::string& argument : arguments) {
        command += " " + argument;
    }
    const CommandResult result = RunSystemctl(arguments, timeoutSeconds);
    if (!result.started) {
        ReportFailure(procedure, "could not run " + command);
        return false;
    }
    if (!result.finished) {
        ReportFailure(procedure, command + " did not finish within " +
                                     std::to_string(timeoutSeconds) + " seconds");
        return false;
    }
    if (result.exitCode != 0) {
        ReportFailure(procedure, command + " failed (exit code " + std::to_string(result.exitCode) +
                                     ")" + (result.output.empty() ? "" : ": " + result.output));
        return false;
    }
    QLOG(kLogDebug, procedure,
         command + " succeeded" + (result.output.empty() ? "" : ": " + result.output));
    return true;
}

std::string FolderOf(const std::string& path) {
    return path.substr(0, path.rfind('/'));
}

bool UnitFileExists(const std::string& name) {
    std::vector<std::uint8_t> ignored;
    return ReadWholeFile(ServiceUnitPath(name), kMaximumUnitSize, ignored);
}

}  // namespace

std::string ServiceUnitPath(const std::string& name) {
    return RootedPath("/etc/systemd/system/" + UnitFileName(name));
}

const char* ServiceDependencies() {
    return "network-online.target\n";
}

std::int64_t InstallService(const std::string& name, const std::string& displayName,
                            const std::string& programPath, const std::string& arguments,
                            const std::string& description, const std::string& dependencies) {
    constexpr const char* kProcedure = "InstallService";
    const ManagerReach reach = FindManager(kProcedure);
    if (reach == ManagerReach::None) {
        return 0;
    }
    if (programPath.empty() || programPath[0] != '/') {
        ReportFailure(kProcedure, "the program's full file name is not known");
        return 0;
    }
    // The unit runs the program as root at every boot: nobody else may be able to replace it or
    // the helper it starts (the one beside it when there is one, else the installed layout's in
    // the libexec folder, as the program looks for it).
    const std::string programFolder = FolderOf(programPath);
    std::string helper = programFolder + "/quarnel-updater-helper";
    if (::access(helper.c_str(), X_OK) != 0) {
        helper = programFolder + "/../libexec/quarnel-updater/quarnel-updater-helper";
    }
    for (const std::string& runs : {programPath, helper}) {
        const std::string changeable = FindChangeableByOthers(runs);
        if (!changeable.empty()) {
            ReportFailure(kProcedure, "not installing the service: " + changeable +
                                          ", so not only root could replace " + runs);
            return 0;
        }
    }
    const std::string unitPath = ServiceUnitPath(name);
    const std::string commandLine = UnitCommandLine(programPath, arguments);
    std::vector<std::uint8_t> existing;
    if (ReadWholeFile(unitPath, kMaximumUnitSize, existing) &&
        FindUnitCommandLine(std::string(existing.begin(), existing.end())) == commandLine) {
        // Creating a service that exists fails and leaves it as it is.
        ReportFailure(kProcedure, "the service is already installed (" + unitPath + ")");
        return 0;
    }
    if (!existing.empty()) {
        QLOG(kLogInfo, kProcedure, "Replacing " + unitPath + ", which runs another program");
    }

    const ServiceUnitSettings settings{displayName, programPath, arguments, description,
                                       dependencies};
    if (!CreateFolders(FolderOf(unitPath), 0755) ||
        !WriteFileAtomically(unitPath, BuildServiceUnit(settings), 0644)) {
        const std::uint32_t error = GetLastErrorCode();
        ReportFailure(kProcedure, "cannot write " + unitPath + ": " + SystemErrorText(error));
        return 0;
    }
    QLOG(kLogInfo, kProcedure, "Wrote " + unitPath);

    const std::string unit = UnitFileName(name);
    const bool offline = reach == ManagerReach::Offline;
    const bool enabled =
        (offline || Systemctl(kProcedure, {"daemon-reload"}, kCommandTimeoutSeconds)) &&
        Systemctl(kProcedure, {"enable", unit}, kCommandTimeoutSeconds, offline);
    if (!enabled) {
        // A unit that is not enabled would block the next installation; take it back.
        (void)RemoveFileDurably(unitPath);
        if (!offline) {
            (void)Systemctl(kProcedure, {"daemon-reload"}, kCommandTimeoutSeconds);
        }
        return 0;
    }
    if (description.empty()) {
        // The service is there, but without its description the installation counts as failed.
        QLOG(kLogWarn, kProcedure, "The service has no description");
        return 0;
    }
    return 1;
}

std::int64_t StartServiceByName(const std::string& name) {
    constexpr const char* kProcedure = "StartServiceByName";
    const ManagerReach reach = FindManager(kProcedure);
    if (reach == ManagerReach::Offline) {
        ReportFailure(kProcedure, "no service manager runs below QUARNEL_ROOT; not started");
    }
    if (reach != ManagerReach::Running) {
        return 0;
    }
    return Systemctl(kProcedure, {"start", UnitFileName(name)}, kStartTimeoutSeconds) ? 1 : 0;
}

std::int64_t StopServiceByName(const std::string& name) {
    constexpr const char* kProcedure = "StopServiceByName";
    const ManagerReach reach = FindManager(kProcedure);
    if (reach == ManagerReach::Offline) {
        ReportFailure(kProcedure, "no service manager runs below QUARNEL_ROOT; nothing stopped");
    }
    if (reach != ManagerReach::Running) {
        return 0;
    }
    return Systemctl(kProcedure, {"stop", "--no-block", UnitFileName(name)}, kCommandTimeoutSeconds)
               ? 1
               : 0;
}

std::int64_t DeleteServiceByName(const std::string& name) {
    constexpr const char* kProcedure = "DeleteServiceByName";
    const ManagerReach reach = FindManager(kProcedure);
    if (reach == ManagerReach::None) {
        return 0;
    }
    const std::string unitPath = ServiceUnitPath(name);
    if (!UnitFileExists(name)) {
        ReportFailure(kProcedure, "the service is not installed (no " + unitPath + ")");
        return 0;
    }
    const std::string unit = UnitFileName(name);
    const bool offline = reach == ManagerReach::Offline;
    // Disabling first removes the links that point at the unit; a failure there must not keep
    // the unit itself from being removed.
    const bool disabled = Systemctl(kProcedure, {"disable", unit}, kCommandTimeoutSeconds, offline);
    if (!RemoveFileDurably(unitPath)) {
        const std::uint32_t error = GetLastErrorCode();
        ReportFailure(kProcedure, "cannot remove " + unitPath + ": " + SystemErrorText(error));
        return 0;
    }
    QLOG(kLogInfo, kProcedure, "Removed " + unitPath);
    if (offline) {
        return disabled ? 1 : 0;
    }
    const bool reloaded = Systemctl(kProcedure, {"daemon-reload"}, kCommandTimeoutSeconds);
    // A unit that failed before would stay listed as failed; its record goes with it.
    (void)RunSystemctl({"reset-failed", unit}, kCommandTimeoutSeconds);
    return disabled && reloaded ? 1 : 0;
}

std::int64_t ServiceExists(const std::string& name) {
    constexpr const char* kProcedure = "ServiceExists";
    if (QuarnelRoot().empty() && !SystemdRunning()) {
        // Asked often (every apply of the settings); not worth a message to the user.
        QLOG(kLogDebug, kProcedure, "systemd is not running on this system");
        return 0;
    }
    return UnitFileExists(name) ? 1 : 0;
}

std::int64_t ControlServiceByName(const std::string& name, std::uint32_t controlCode) {
    ServiceStatus status;
    if (!SendServiceControl(name, controlCode, status)) {
        // Not running, or not reachable by this user: the caller decides whether that matters.
        QLOG(kLogInfo, "ControlServiceByName",
             "Control " + std::to_string(controlCode) + " did not reach the service");
        return 0;
    }
    QLOG(kLogDebug, "ControlServiceByName",
         "Control " + std::to_string(controlCode) + " delivered; state " +
             std::to_string(status.currentState));
    return 1;
}

}  // namespace quarnel
