#include "startup/status_report.h"

#include <cstdio>
#include <cstdlib>

#include "ddns/endpoint_value.h"
#include "ddns/provider_update.h"
#include "libraries/src/service/service_manager.h"
#include "network/network_filter.h"
#include "platform/clock.h"
#include "platform/product.h"
#include "settings/registry.h"
#include "settings/schema.h"
#include "startup/stored_settings.h"

namespace quarnel {
namespace {

constexpr RegistryHive kMachine = RegistryHive::LocalMachine;

// A stored time stamp (the program's local clock) as UTC; 0 stays 0.
std::int64_t UtcOfStamp(std::int64_t stamp) {
    return stamp > 0 ? UtcOfLocalClock(stamp) : 0;
}

}  // namespace

StatusReport ReadStatusReport() {
    StatusReport report;
    report.now = UtcClockSeconds();
    report.service = QueryServiceState(ServiceName);
    report.installed = ServiceExists(ServiceName) != 0;
    report.settings = ReadStoredSettings();
    report.settings.password.clear();
    report.settingsTime = UtcOfStamp(ReadTimeStamp(kMachine, kSettingsKey, kValueTime));
    report.attempt = ReadLastAttempt();
    report.attemptTime = UtcOfStamp(report.attempt.time);
    report.updateTime = UtcOfStamp(ReadTimeStamp(kMachine, kServiceKey, kValueTime));
    report.updateAddress = ReadRegistryString(kMachine, kServiceKey, kValueIp);
    report.updateAddress6 = ReadRegistryString(kMachine, kServiceKey, kValueIp6);
    report.check = ReadCheckRecord(report.checkReason);
    for (const Endpoint endpoint : AllEndpoints()) {
        std::string value = ReadEndpointOverride(endpoint);
        if (!value.empty()) {
            report.endpointOverrides.emplace_back(endpoint, std::move(value));
        }
    }
    report.networkAllowed = TestNetwork() != 0;
    report.network = GetNetwork();
    return report;
}

std::string NoIPv6AddressReason(const SettingsValues& settings, std::int64_t updateTime,
                                std::int64_t settingsTime) {
    if (!settings.ipv6 || !ProviderTakesIPv6(settings.providerIndex)) {
        return {};
    }
    if (updateTime <= 0 || updateTime < settingsTime) {
        return "not sent yet";
    }
    return "none found at the last update (no global IPv6 address on the interface of the IPv6 "
           "default route, and none from the IPv6 echo): the IPv4 address was sent alone";
}

std::string IsoTime(std::int64_t utcSeconds) {
    const std::int64_t local = LocalClockAt(utcSeconds);
    const std::int64_t offset = local - utcSeconds;
    const std::int64_t minutes = std::llabs(offset) / 60;
    char zone[48];
    std::snprintf(zone, sizeof zone, "%c%02lld:%02lld", offset < 0 ? '-' : '+',
                  static_cast<long long>(minutes / 60), static_cast<long long>(minutes % 60));
    return FormatClock("%yyyy-%mm-%ddT%hh:%ii:%ss", local) + zone;
}

std::string DurationText(std::int64_t seconds) {
    if (seconds < 0) {
        seconds = 0;
    }
    const std::int64_t minutes = seconds / 60;
    const std::int64_t hours = minutes / 60;
    const std::int64_t days = hours / 24;
    if (days > 0) {
        return std::to_string(days) + (days == 1 ? " day " : " days ") +
               std::to_string(hours % 24) + " h";
    }
    if (hours > 0) {
        return std::to_string(hours) + " h " + std::to_string(minutes % 60) + " min";
    }
    if (minutes > 0) {
        return std::to_string(minutes) + " min";
    }
    return std::to_string(seconds) + " s";
}

}  // namespace quarnel
