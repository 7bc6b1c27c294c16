#include "startup/status_command.h"

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include "ddns/endpoint_value.h"
#include "ddns/last_attempt.h"
#include "ddns/provider_update.h"
#include "libraries/src/service/autostart.h"
#include "libraries/src/service/service_manager.h"
#include "platform/clock.h"
#include "platform/visible_text.h"
#include "settings/registry.h"
#include "settings/schema.h"
#include "startup/process_main.h"
#include "startup/service_status.h"
#include "startup/status_check.h"
#include "startup/status_json.h"
#include "startup/status_report.h"
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

// Every stored or received text goes through VisibleText before it reaches the terminal.
void Row(const char* label, const std::string& value) {
    const std::string shown = VisibleText(value);
    std::printf("%-18s %s\n", label, shown.empty() ? "(none)" : shown.c_str());
}

// What the last outcome means and what to do about it.
struct Outcome {
    std::string meaning;   // the message the tray would show
    std::string answer;    // the provider's answer as received; empty when none came
    std::string nextStep;  // empty when nothing needs doing
};

std::string UpdateHostText(std::int64_t provider) {
    const auto endpoint = ProviderUpdateEndpoint(provider);
    return endpoint ? GetEndpoint(*endpoint) : "the provider's update host";
}

Outcome DescribeOutcome(const SettingsValues& settings, const LastAttempt& attempt) {
    Outcome outcome;
    const std::string configure = "quarnel-updater /configure";
    switch (attempt.outcome) {
        case AttemptOutcome::None:
            outcome.meaning = "Nothing has been sent to the provider yet.";
            if (settings.userName.empty() ||
                (settings.hostName.empty() && settings.providerIndex != kProviderDnsOMatic)) {
                outcome.nextStep = "store the account and host name: " + configure;
            }
            return outcome;
        case AttemptOutcome::NotConfigured:
            outcome.meaning =
                "Nothing was sent to the provider: no user name is set. " + attempt.message;
            outcome.nextStep = "store the account: " + configure;
            return outcome;
        case AttemptOutcome::Outage:
            outcome.meaning = attempt.message;
            if (attempt.code == kNoAnswerMarker) {
                outcome.nextStep = "check the network connection and " +
                                   UpdateHostText(settings.providerIndex) +
                                   "; the service tries again within an hour (journalctl -u "
                                   "quarnel-updater shows why it failed)";
            } else {
                outcome.answer = attempt.answer;
                outcome.nextStep =
                    "nothing: the answer was no verdict of the provider, the service sends the "
                    "update again within an hour";
            }
            return outcome;
        default:
            break;
    }
    outcome.answer = attempt.answer;
    outcome.meaning = attempt.message;
    const std::string& code = attempt.code;
    if (code == "badauth") {
        outcome.nextStep = "check the user name and password (" + configure + ")";
    } else if (code == "nohost" || code == "!yours" || code == "notfqdn" || code == "numhost") {
        outcome.nextStep =
            "check the host name: each must be a full name that belongs to this "
            "account at " +
            ProviderDisplayName(settings.providerIndex) + " (" + configure + ")";
    } else if (code == "abuse") {
        outcome.nextStep =
            "unblock the host name in the provider's account, then store the "
            "settings again (" +
            configure + ")";
    } else if (attempt.outcome == AttemptOutcome::TryLater) {
        outcome.nextStep = "nothing: the service tries again in 30 to 60 minutes";
    }
    return outcome;
}

std::string IPv6SettingText(const SettingsValues& settings) {
    if (!settings.ipv6) {
        return "off";
    }
    if (!ProviderTakesIPv6(settings.providerIndex)) {
        return "on, but " + ProviderDisplayName(settings.providerIndex) +
               " takes IPv4 addresses only: no IPv6 address is sent";
    }
    return "on";
}

// The IPv6 address the last request carried, or why there is none; empty when there is nothing
// to say (IPv6 off and none on record).
std::string IPv6AddressText(const SettingsValues& settings, std::int64_t updateTime,
                            const std::string& address6) {
    if (!address6.empty()) {
        return address6;
    }
    return NoIPv6AddressReason(settings, updateTime,
                               ReadTimeStamp(kMachine, kSettingsKey, kValueTime));
}

void PrintEndpoints() {
    std::printf("Endpoints:\n");
    bool any = false;
    for (const Endpoint endpoint : AllEndpoints()) {
        const std::string value = ReadEndpointOverride(endpoint);
        if (!value.empty()) {
            std::printf(
                "  %-18s %s (built in: %s)\n", VisibleText(EndpointValueName(endpoint)).c_str(),
                VisibleText(value).c_str(),
                EndpointDefault(endpoint).empty() ? "none"
                                                  : VisibleText(EndpointDefault(endpoint)).c_str());
            any = true;
        }
    }
    if (!any) {
        std::printf("  (the built-in defaults)\n");
    }
}

// The report as a JSON document or as a verdict, each from the same reading of the status.
std::int64_t PrintReport(StatusForm form) {
    const StatusReport report = ReadStatusReport();
    if (form == StatusForm::Check) {
        const HealthVerdict verdict = JudgeHealth(report);
        if (std::printf("%s\n", verdict.line.c_str()) < 0 || std::fflush(stdout) != 0) {
            std::fprintf(stderr, "quarnel-updater: /status --check: %s\n", verdict.line.c_str());
        }
        return verdict.exitCode;
    }
    const std::string document = StatusJson(report);
    if (std::fputs(document.c_str(), stdout) < 0 || std::fflush(stdout) != 0) {
        std::fprintf(stderr, "quarnel-updater: /status: standard output cannot be written\n");
        return 1;
    }
    return 0;
}

}  // namespace

std::int64_t RunStatus(StatusForm form) {
    if (form != StatusForm::Text) {
        return PrintReport(form);
    }
    const bool installed = ServiceExists(ServiceName) != 0;
    Row("Service:",
        QueryServiceState(ServiceName).text + (installed ? " (installed)" : " (not installed)"));

    const SettingsValues settings = ReadStoredSettings();
    Row("User name:", settings.userName);
    Row("Host name:", settings.hostName);
    Row("Provider:", ProviderDisplayName(settings.providerIndex));
    Row("Interval:", std::to_string(settings.intervalMinutes) + " minutes");
    Row("Local filter:", std::string(settings.localFilter ? "on" : "off") +
                             "; networks: " + ListDisplay(settings.localNetworks));
    Row("Wireless filter:", std::string(settings.wirelessFilter ? "on" : "off") +
                                "; networks: " + ListDisplay(settings.wirelessNetworks));
    Row("IPv6:", IPv6SettingText(settings));
    Row("Tray autostart:", AutostartText(settings.autostartMode));
    Row("Settings changed:", TimeStampText(ReadTimeStamp(kMachine, kSettingsKey, kValueTime)));
    PrintEndpoints();

    // The attempt, whatever came of it; Time and IP name the last request the provider answered.
    const LastAttempt attempt = ReadLastAttempt();
    const Outcome outcome = DescribeOutcome(settings, attempt);
    Row("Last attempt:", TimeStampText(attempt.time));
    Row("Result:", outcome.meaning);
    if (!outcome.answer.empty()) {
        Row("Provider answer:", outcome.answer);
    }
    const std::int64_t updateTime = ReadTimeStamp(kMachine, kServiceKey, kValueTime);
    Row("Last update:", TimeStampText(updateTime));
    Row("Address:", ReadRegistryString(kMachine, kServiceKey, kValueIp));
    const std::string address6 =
        IPv6AddressText(settings, updateTime, ReadRegistryString(kMachine, kServiceKey, kValueIp6));
    if (!address6.empty()) {
        Row("IPv6 address:", address6);
    }
    if (!outcome.nextStep.empty()) {
        Row("Next step:", outcome.nextStep);
    }

    const std::vector<std::string> events = NewestServiceEvents(ServiceName, kShownEvents);
    std::printf("Newest events:\n");
    if (events.empty()) {
        std::printf("  (none)\n");
    }
    for (const std::string& event : events) {
        std::printf("  %s%s\n", VisibleText(event).c_str(),
                    event.ends_with("] ") ? "(no answer)" : "");
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        std::fprintf(stderr, "quarnel-updater: /status: standard output cannot be written\n");
        return 1;
    }
    return 0;
}

}  // namespace quarnel
