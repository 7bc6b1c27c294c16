#include "startup/status_command.h"

#include <cstdio>
#include <string>

#include "libraries/src/service/autostart.h"
#include "libraries/src/service/service_manager.h"
#include "platform/clock.h"
#include "settings/registry.h"
#include "settings/schema.h"
#include "startup/process_main.h"
#include "startup/service_status.h"
#include "startup/stored_settings.h"

namespace quarnel {
namespace {

constexpr RegistryHive kMachine = RegistryHive::LocalMachine;
constexpr std::size_t kShownEvents = 5;

// The program's time stamps count the local wall-clock fields as if they were UTC, so they are
// shown with the UTC calendar to give back the local time.
std::string TimeStampText(std::int64_t stamp) {
    return stamp <= 0 ? "never" : FormatClock("%yyyy-%mm-%dd %hh:%ii:%ss", stamp);
}

std::string AutostartText(int state) {
    switch (state) {
        case AutostartAllUsers:
            return "all users";
        case AutostartThisUser:
            return "this user";
        case AutostartAllUsers | AutostartThisUser:
            return "all users and this user";
        default:
            return "off";
    }
}

void Row(const char* label, const std::string& value) {
    std::printf("%-18s %s\n", label, value.empty() ? "(none)" : value.c_str());
}

}  // namespace

std::int64_t RunStatus() {
    const bool installed = ServiceExists(ServiceName) != 0;
    Row("Service:",
        QueryServiceState(ServiceName) + (installed ? " (installed)" : " (not installed)"));

    const SettingsValues settings = ReadStoredSettings();
    Row("User name:", settings.userName);
    Row("Host name:", settings.hostName);
    Row("Provider:", ProviderDisplayName(settings.providerIndex));
    Row("Interval:", std::to_string(settings.intervalMinutes) + " minutes");
    Row("Local filter:", std::string(settings.localFilter ? "on" : "off") +
                             "; networks: " + ListDisplay(settings.localNetworks));
    Row("Wireless filter:", std::string(settings.wirelessFilter ? "on" : "off") +
                                "; networks: " + ListDisplay(settings.wirelessNetworks));
    Row("Tray autostart:", AutostartText(settings.autostartMode));
    Row("Settings changed:", TimeStampText(ReadTimeStamp(kMachine, kSettingsKey, kValueTime)));

    Row("Last update:", TimeStampText(ReadTimeStamp(kMachine, kServiceKey, kValueTime)));
    Row("Result:", ReadRegistryString(kMachine, kServiceKey, kValueResult));
    Row("Address:", ReadRegistryString(kMachine, kServiceKey, kValueIp));

    std::printf("Newest events:\n");
    const std::vector<std::string> events = NewestServiceEvents(ServiceName, kShownEvents);
    if (events.empty()) {
        std::printf("  (none)\n");
    }
    for (const std::string& event : events) {
        std::printf("  %s\n", event.c_str());
    }
    return 1;
}

}  // namespace quarnel
