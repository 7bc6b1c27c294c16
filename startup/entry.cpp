#include "startup/entry.h"

#include <cstdlib>
#include <string>
#include <string_view>

#include "diagnostics/crash_handler.h"
#include "diagnostics/log.h"
#include "libraries/src/service/service_library.h"
#include "platform/global_handles.h"
#include "platform/guid.h"
#include "platform/helper_call.h"
#include "platform/lenient_integer.h"
#include "platform/network_capabilities.h"
#include "platform/process.h"
#include "platform/service_host.h"
#include "platform/text.h"
#include "startup/crash_reporter.h"
#include "startup/process_main.h"

namespace quarnel {
namespace {

// {B7D5E900-AF40-11DD-AD8B-0800200C9A66}: the name of the channel that carries the instance
// message between the processes of a session.
constexpr Guid kInstanceMessageGuid = {
    0xB7D5E900, 0xAF40, 0x11DD, {0xAD, 0x8B, 0x08, 0x00, 0x20, 0x0C, 0x9A, 0x66}};

std::string EnvironmentText(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// A helper that failed is an error of the operation that needed it; what a helper says once
// (a restriction the kernel lacks) is a warning.
void LogHelperReport(HelperReport kind, std::string_view message) {
    if (kind == HelperReport::Failure) {
        QLOG(kLogError, "CallHelper", std::string(message));
    } else {
        QLOG(kLogWarn, "CallHelper", std::string(message));
    }
}

}  // namespace

void InitializeProcess(bool installCrashHandler) {
    SetHelperReporter(LogHelperReport);
    std::int32_t level = LenientAbsoluteLow32(EnvironmentText("LOGLEVEL"));
    globalHandles.logPort = LenientAbsoluteLow32(EnvironmentText("LOGPORT"));
    globalHandles.logLockCreated.store(true, std::memory_order_release);
    if (level < kLogOff) {
        level = kLogOff;
    } else if (level > kLogAll) {
        level = kLogAll;
    }
    globalHandles.logLevel = level;
    for (int i = 0; i < 8; ++i) {
        globalHandles.logLevelNames[i] = LogLevelNames[i];
    }

    globalHandles.netlinkUsable = IsNetlinkUsable();
    globalHandles.nl80211Usable = IsNl80211Usable();

    // The reporter a crash starts runs without a handler: its own crash must end only itself.
    if (installCrashHandler) {
        InstallCrashHandler();
    }

    QLOG(kLogInfo, "", "Initiating application");
    QLOG(kLogTrace, "", "Creating global handle structure");

    // The desktop toolkit tells the tray itself when the panel comes back; nothing to register.
    QLOG(kLogTrace, "", "Registering window message TaskbarCreated");

    QLOG(kLogTrace, "", "Registering window message for instance communication");
    globalHandles.instanceMessageName = GuidToString(kInstanceMessageGuid);

    QLOG(kLogInfo, "", "Initiating service library");
    CreateServiceRecordTable();
}

std::int64_t RunProcess(const std::vector<std::string>& arguments) {
    InitializeProcess();
    globalHandles.exitCode = ProcessMain(arguments, DefaultProcessActions());
    return globalHandles.exitCode;
}

int ProgramMain(int argc, char** argv) {
    std::vector<std::string> arguments = ProgramArguments(argc, argv);
    if (!arguments.empty() && arguments[0] == kCrashReportSwitch) {
        InitializeProcess(false);
        return RunCrashReporter(std::vector<std::string>(arguments.begin() + 1, arguments.end()));
    }
    // Before anything else, and before any thread exists to inherit another mask: a reload or
    // stop that reaches a starting service must wait for the service host, not end the process.
    for (const std::string& argument : arguments) {
        if (ToLowerAscii(argument) == "/service") {  // switches ignore letter case
            BlockServiceHostSignals();
        }
    }
    // The exit status carries the low 8 bits of the result; every code the program gives fits.
    return static_cast<int>(RunProcess(arguments) & 0xFF);
}

}  // namespace quarnel
