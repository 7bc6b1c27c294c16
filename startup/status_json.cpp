#include "startup/status_json.h"

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "ddns/provider_update.h"
#include "platform/product.h"
#include "service/outcome_hooks.h"
#include "settings/schema.h"
#include "startup/json_writer.h"
#include "startup/stored_settings.h"

namespace quarnel {
namespace {

constexpr int kFormat = 1;

// A member that may be unknown: its value, or null and "<name>Reason".
void Text(JsonWriter& json, std::string_view name, const std::optional<std::string>& value,
          std::string_view reason) {
    json.Key(name);
    if (value) {
        json.String(*value);
        return;
    }
    json.Null();
    json.Key(std::string(name) + "Reason");
    json.String(reason);
}

void Time(JsonWriter& json, std::string_view name, std::int64_t utcSeconds,
          std::string_view reason) {
    Text(json, name,
         utcSeconds > 0 ? std::optional<std::string>(IsoTime(utcSeconds)) : std::nullopt, reason);
}

void List(JsonWriter& json, std::string_view name,
          const std::optional<std::vector<std::string>>& entries) {
    json.Key(name);
    json.BeginArray();
    for (const std::string& entry : entries.value_or(std::vector<std::string>{})) {
        json.String(entry);
    }
    json.EndArray();
}

std::string_view OutcomeName(AttemptOutcome outcome) {
    switch (outcome) {
        case AttemptOutcome::Accepted:
            return "accepted";
        case AttemptOutcome::TryLater:
            return "try-later";
        case AttemptOutcome::Outage:
            return "outage";
        case AttemptOutcome::Refused:
            return "refused";
        case AttemptOutcome::NotConfigured:
            return "not-configured";
        case AttemptOutcome::None:
            break;
    }
    return "none";
}

void Service(JsonWriter& json, const StatusReport& report) {
    json.Key("service");
    json.BeginObject();
    const bool stopped = report.service.state == ServiceRunState::Stopped;
    json.Key("state");
    json.String(stopped && !report.installed ? "not-installed"
                                             : ServiceRunStateName(report.service.state));
    if (report.service.state == ServiceRunState::Unknown) {
        json.Key("stateReason");
        json.String(report.service.text);
    }
    json.Key("installed");
    json.Boolean(report.installed);
    json.Key("text");
    json.String(report.service.text);
    json.EndObject();
}

void Settings(JsonWriter& json, const StatusReport& report) {
    const SettingsValues& settings = report.settings;
    json.Key("settings");
    json.BeginObject();
    json.Key("provider");
    json.String(ProviderDisplayName(settings.providerIndex));
    json.Key("providerNumber");
    json.Number(settings.providerIndex);
    json.Key("hostname");
    json.String(settings.hostName);
    json.Key("username");
    json.String(settings.userName);
    json.Key("intervalMinutes");
    json.Number(settings.intervalMinutes);
    json.Key("localFilter");
    json.Boolean(settings.localFilter);
    List(json, "localNetworks", settings.localNetworks);
    json.Key("wirelessFilter");
    json.Boolean(settings.wirelessFilter);
    List(json, "wirelessNetworks", settings.wirelessNetworks);
    json.Key("ipv6");
    json.Boolean(settings.ipv6);
    // Whether an IPv6 address goes with the update: the setting is on and the provider takes one.
    json.Key("ipv6Sent");
    json.Boolean(settings.ipv6 && ProviderTakesIPv6(settings.providerIndex));
    Time(json, "changed", report.settingsTime, "the settings were never stored");
    json.EndObject();
}

void LastAttemptMembers(JsonWriter& json, const StatusReport& report) {
    const LastAttempt& attempt = report.attempt;
    const bool none = attempt.outcome == AttemptOutcome::None;
    const bool outage = attempt.outcome == AttemptOutcome::Outage;
    const bool noAnswer = attempt.code == kNoAnswerMarker;
    constexpr std::string_view kNone = "nothing has been sent to the provider yet";
    json.Key("lastAttempt");
    json.BeginObject();
    Time(json, "time", report.attemptTime, kNone);
    json.Key("outcome");
    json.String(OutcomeName(attempt.outcome));
    // The word the hooks get as QUARNEL_EVENT for the same outcome.
    Text(json, "event",
         none ? std::nullopt : std::optional<std::string>(HookEventOf(attempt, {}, {}).event),
         kNone);
    Text(json, "code", none || outage ? std::nullopt : std::optional<std::string>(attempt.code),
         none       ? kNone
         : noAnswer ? "no answer came back"
                    : "the answer is no return code of the provider");
    const bool notSent = attempt.outcome == AttemptOutcome::NotConfigured;
    Text(json, "answer",
         none || noAnswer || notSent ? std::nullopt : std::optional<std::string>(attempt.answer),
         none      ? kNone
         : notSent ? "nothing was sent: no user name is set"
                   : "no answer came back");
    Text(json, "address", none ? std::nullopt : std::optional<std::string>(attempt.address), kNone);
    Text(json, "message", none ? std::nullopt : std::optional<std::string>(attempt.message), kNone);
    json.Key("reachedProvider");
    json.Boolean(attempt.reachedProvider);
    json.EndObject();
}

void LastUpdate(JsonWriter& json, const StatusReport& report) {
    const bool none = report.updateTime <= 0;
    constexpr std::string_view kNone = "the provider has answered no request yet";
    json.Key("lastUpdate");
    json.BeginObject();
    Time(json, "time", report.updateTime, kNone);
    Text(json, "address",
         none || report.updateAddress.empty() ? std::nullopt
                                              : std::optional<std::string>(report.updateAddress),
         kNone);
    std::string noAddress6 =
        NoIPv6AddressReason(report.settings, report.updateTime, report.settingsTime);
    if (noAddress6.empty()) {
        noAddress6 = !report.settings.ipv6 ? "IPv6 is off"
                                           : ProviderDisplayName(report.settings.providerIndex) +
                                                 " takes IPv4 addresses only";
    }
    Text(json, "address6",
         report.updateAddress6.empty() ? std::nullopt
                                       : std::optional<std::string>(report.updateAddress6),
         none ? std::string(kNone) : noAddress6);
    // The answer to this request is on record only while no later attempt replaced it.
    json.Key("accepted");
    const AttemptOutcome outcome = report.attempt.outcome;
    if (!none && report.attemptTime == report.updateTime &&
        (outcome == AttemptOutcome::Accepted || outcome == AttemptOutcome::Refused)) {
        json.Boolean(outcome == AttemptOutcome::Accepted);
    } else {
        json.Null();
        json.Key("acceptedReason");
        json.String(none ? kNone : "a later attempt took the place of its answer in the store");
    }
    json.EndObject();
}

// Why the service's own view is missing, when it is.
std::optional<std::string> NotRunning(const StatusReport& report) {
    switch (report.service.state) {
        case ServiceRunState::Running:
            return std::nullopt;
        case ServiceRunState::Paused:
            return "the service is paused: it checks again once it continues";
        case ServiceRunState::Unknown:
            return "whether the service runs cannot be told: " + report.service.text;
        default:
            return "the service is not running";
    }
}

void Checks(JsonWriter& json, const StatusReport& report) {
    const std::optional<std::string> notRunning = NotRunning(report);
    const std::string reason =
        report.check ? std::string() : notRunning.value_or(report.checkReason);
    json.Key("lastCheck");
    json.BeginObject();
    Time(json, "time", report.check ? report.check->checked : 0, reason);
    Text(json, "found",
         report.check ? std::optional<std::string>(CheckFindingName(report.check->finding))
                      : std::nullopt,
         reason);
    json.EndObject();

    json.Key("nextCheck");
    json.BeginObject();
    if (notRunning) {
        Time(json, "time", 0, *notRunning);
    } else if (!report.check) {
        Time(json, "time", 0, reason);
    } else {
        Time(json, "time", report.check->next,
             "no timer is armed: after a refusal the service checks again when the settings "
             "change or it is continued");
    }
    json.EndObject();
}

void Endpoints(JsonWriter& json, const StatusReport& report) {
    json.Key("endpointOverrides");
    json.BeginObject();
    for (const auto& [endpoint, value] : report.endpointOverrides) {
        json.Key(EndpointValueName(endpoint));
        json.BeginObject();
        json.Key("value");
        json.String(value);
        const std::string_view builtIn = EndpointDefault(endpoint);
        Text(json, "default", builtIn.empty() ? std::nullopt : std::optional<std::string>(builtIn),
             "none is built in");
        json.EndObject();
    }
    json.EndObject();
}

void NetworkFilter(JsonWriter& json, const StatusReport& report) {
    json.Key("networkFilter");
    json.BeginObject();
    json.Key("allowsUpdates");
    json.Boolean(report.networkAllowed);
    Text(json, "localNetwork",
         report.network.empty() ? std::nullopt : std::optional<std::string>(report.network),
         "the primary network adapter has no default gateway");
    json.EndObject();
}

}  // namespace

std::string StatusJson(const StatusReport& report) {
    JsonWriter json;
    json.BeginObject();
    json.Key("format");
    json.Number(kFormat);
    json.Key("time");
    json.String(IsoTime(report.now));
    Service(json, report);
    Settings(json, report);
    LastAttemptMembers(json, report);
    LastUpdate(json, report);
    Checks(json, report);
    Endpoints(json, report);
    NetworkFilter(json, report);
    json.EndObject();
    return json.Text();
}

}  // namespace quarnel
