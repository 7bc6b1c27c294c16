#include <cstdint>
#include <cstdio>
#include <string>

#include "diagnostics/log.h"
#include "libraries/src/service/autostart.h"
#include "libraries/src/service/service_manager.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/system_rights.h"
#include "resources/texts.h"
#include "service/service_process.h"
#include "settings/identity.h"
#include "settings/migration.h"
#include "settings/registry.h"
#include "settings/schema.h"
#include "startup/apply_operations.h"
#include "startup/configure_command.h"
#include "startup/instance.h"
#include "startup/process_main.h"
#include "startup/status_command.h"
#include "startup/ui_module_loader.h"
#include "startup/usage_text.h"
#include "update/file_signature.h"
#include "update/privileged_install.h"

namespace quarnel {
namespace {

// Root (an administrator) may change the system; with QUARNEL_ROOT set, whoever may write that
// tree may change it.
bool MayChangeSystem() {
    const std::string root = QuarnelRoot();
    return HasSystemRights() || (!root.empty() && CanWriteFolder(root));
}

// Says on standard error what a run without the rights cannot do; the operations still run (and
// give their exit codes) and report their own failures after this.
void NoteMissingRights(const char* what) {
    if (!MayChangeSystem()) {
        std::fprintf(stderr, "quarnel-updater: %s needs %s\n", what, SystemRightsAdvice());
    }
}

// Prints a text on standard output; 0 when all of it was written.
std::int64_t PrintText(const std::string& text) {
    const bool written = std::fputs(text.c_str(), stdout) >= 0 && std::fflush(stdout) == 0;
    if (!written) {
        std::fprintf(stderr, "quarnel-updater: standard output cannot be written\n");
    }
    return written ? 0 : 1;
}

}  // namespace

ProcessActions DefaultProcessActions() {
    ProcessActions actions;
    actions.recordClientIdentity = [] {
        // The first step of /install and /enable.
        NoteMissingRights("installing the service");
        return std::int64_t{RecordClientIdentity()};
    };
    actions.migrateSettings = [] { return std::int64_t{MigrateSettings()}; };
    actions.installService = InstallService;
    actions.startServiceByName = StartServiceByName;
    actions.stopServiceByName = [](const std::string& name) {
        // The first step of /uninstall, /disable, /shutdown and /stop.
        NoteMissingRights("stopping the service");
        return StopServiceByName(name);
    };
    actions.deleteServiceByName = DeleteServiceByName;
    actions.broadcastInstanceMessage = [](int code) { return BroadcastInstanceMessage(code); };
    actions.verifyFileSignature = [](const std::string& path) {
        std::string reason;
        const std::int64_t verified = VerifyFileSignature(path, &reason);
        if (verified == 1) {
            std::printf("quarnel-updater: %s is signed by the maker\n", path.c_str());
        } else {
            std::fprintf(stderr, "quarnel-updater: %s\n", reason.c_str());
        }
        return verified;
    };
    actions.setAutostart = [](const std::string& name, const std::string& path, int flags) {
        if ((flags & AutostartAllUsers) != 0) {
            NoteMissingRights("the tray autostart for all users");
        }
        return SetAutostart(name, path, flags);
    };
    actions.configure = [] {
        // Changing settings from a command line never starts the window of the software
        // update, whatever the beta choice.
        ApplyOperations operations = DefaultApplyOperations();
        operations.isCurrentUserAdmin = nullptr;
        operations.startProgram = nullptr;
        return RunConfigure(operations);
    };
    actions.showStatus = RunStatus;
    actions.readSoftwareBeta = [] {
        return ReadRegistryDword(RegistryHive::LocalMachine, kProductKey, kValueSoftwareBeta);
    };
    actions.showUsage = [] { return PrintText(UsageText()); };
    actions.showVersion = [] { return PrintText(VersionText()); };
    actions.runSystrayProcess = [] { return RunSystrayProcess(); };
    actions.runSettingProcess = [] { return RunSettingProcess(); };
    actions.runServiceProcess = [] { return RunServiceProcess(); };
    actions.runUpdateProcess = [](bool beta) -> std::int64_t {
#if QUARNEL_SELF_UPDATE
        return RunUpdateProcess(beta);
#else
        (void)beta;
        // Packages of distributions update through their package manager, never by themselves.
        std::fprintf(stderr,
                     "quarnel-updater: the software update (/update) is turned off in this "
                     "build; the package manager of the system updates the program\n");
        return 0;
#endif
    };
    actions.installUpdate = [](const std::string& path, const std::string& version) {
#if QUARNEL_SELF_UPDATE
        return static_cast<std::int64_t>(RunPrivilegedInstall(path, version));
#else
        (void)path;
        (void)version;
        std::fprintf(stderr, "quarnel-updater: the software update is turned off in this build\n");
        return std::int64_t{0};
#endif
    };
    actions.programPath = [] { return GetProgramPath(); };
    actions.loadText = [](int textId) { return LoadResourceText(textId); };
    return actions;
}

}  // namespace quarnel
