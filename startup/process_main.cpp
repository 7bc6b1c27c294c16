#include "startup/process_main.h"

#include <cstddef>

#include "diagnostics/log.h"
#include "libraries/src/service/autostart.h"
#include "libraries/src/service/service_manager.h"
#include "platform/text.h"
#include "startup/crash_reporter.h"
#include "startup/instance.h"

namespace quarnel {

std::int64_t ProcessMain(const std::vector<std::string>& arguments, const ProcessActions& actions) {
    for (const std::string& argument : arguments) {
        const std::string option = ToLowerAscii(argument);
        if (option == "--help" || option == "-h" || option == "/?") {
            return actions.showUsage();
        }
        if (option == "--version") {
            return actions.showVersion();
        }
    }

    ProcessMode mode = ModeSystray;
    std::int64_t result = 0;

    for (std::size_t at = 0; at < arguments.size(); ++at) {
        const std::string option = ToLowerAscii(arguments[at]);
        if (option == "/installupdate") {
            // Takes the two arguments after it: the offered file and the offered version.
            const bool complete = at + 2 < arguments.size();
            result = complete ? actions.installUpdate(arguments[at + 1], arguments[at + 2]) : 0;
            at += 2;
            mode = ModeNone;
        } else if (option == "/install" || option == "/enable") {
            // Every step runs even when an earlier one failed; the exit code tells which failed.
            const std::int64_t identity = actions.recordClientIdentity();
            const std::int64_t migrated = actions.migrateSettings();
            const std::int64_t installed =
                actions.installService(ServiceName, actions.loadText(100), actions.programPath(),
                                       "/service", actions.loadText(121), ServiceDependencies());
            const std::int64_t started = actions.startServiceByName(ServiceName);
            result = identity & migrated & installed & started;
            mode = ModeNone;
        } else if (option == "/uninstall" || option == "/disable") {
            const std::int64_t stopped = actions.stopServiceByName(ServiceName);
            const std::int64_t deleted = actions.deleteServiceByName(ServiceName);
            result = stopped & deleted;
            mode = ModeNone;
        } else if (option == "/shutdown" || option == "/stop") {
            const std::int64_t stopped = actions.stopServiceByName(ServiceName);
            const std::int64_t broadcast = actions.broadcastInstanceMessage(InstanceCodeQuit);
            result = stopped & broadcast;
            mode = ModeNone;
        } else if (option == "/quit") {
            result = actions.broadcastInstanceMessage(InstanceCodeQuit);
            mode = ModeNone;
        } else if (option == "/signature") {
            result = actions.verifyFileSignature(actions.programPath());
            mode = ModeNone;
        } else if (option == "/autostart") {
            result = actions.setAutostart(ServiceName, actions.programPath(), AutostartAllUsers);
            mode = ModeNone;
        } else if (option == "/userstart") {
            result = actions.setAutostart(ServiceName, actions.programPath(), AutostartThisUser);
            mode = ModeNone;
        } else if (option == "/nostart") {
            result = actions.setAutostart(ServiceName, actions.programPath(), 0);
            mode = ModeNone;
        } else if (option == "/configure") {
            result = actions.configure();
            mode = ModeNone;
        } else if (option == "/status") {
            // Takes the argument after it when that names a form.
            StatusForm form = StatusForm::Text;
            const std::string next =
                at + 1 < arguments.size() ? ToLowerAscii(arguments[at + 1]) : "";
            if (next == "--json" || next == "--check") {
                form = next == "--json" ? StatusForm::Json : StatusForm::Check;
                ++at;
            }
            result = actions.showStatus(form);
            mode = ModeNone;
        } else if (option == "/setting") {
            mode = ModeSetting;
        } else if (option == "/service") {
            mode = ModeService;
        } else if (option == "/update") {
            mode = ModeUpdate;
        }
    }

    NoteProcessModeForCrashes(mode);
    switch (mode) {
        case ModeSystray:
            QLOG(kLogInfo, "ProcessMain", "Running systray process");
            result = actions.runSystrayProcess();
            break;
        case ModeSetting:
            QLOG(kLogInfo, "ProcessMain", "Running setting process");
            result = actions.runSettingProcess();
            break;
        case ModeService:
            QLOG(kLogInfo, "ProcessMain", "Running service process");
            result = actions.runServiceProcess();
            break;
        case ModeUpdate:
            QLOG(kLogInfo, "ProcessMain", "Running update process");
            result = actions.runUpdateProcess(actions.readSoftwareBeta() != 0);
            break;
        case ModeNone:
            break;
    }
    return result;
}

}  // namespace quarnel
