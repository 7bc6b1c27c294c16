#pragma once

// What "/status --json" and "/status --check" say, read once from where the text "/status"
// reads it (the service, the store, the service's last check, the network filter), never from
// the text. Nothing here is more than a normal user may read; the password is never read.

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ddns/endpoints.h"
#include "ddns/last_attempt.h"
#include "service/check_record.h"
#include "settings/apply.h"
#include "startup/service_status.h"

namespace quarnel {

struct StatusReport {
    std::int64_t now = 0;  // seconds since 1970 UTC, as every time below
    ServiceState service;
    bool installed = false;
    SettingsValues settings;  // without the password
    std::int64_t settingsTime = 0;
    LastAttempt attempt;  // its time in the store's own unit
    std::int64_t attemptTime = 0;
    // The last request the provider answered (Time and IP of the service key).
    std::int64_t updateTime = 0;
    std::string updateAddress;
    std::string updateAddress6;  // IP6: the IPv6 address that request carried; empty when none
    std::optional<CheckRecord> check;
    std::string checkReason;  // why there is no check record
    std::vector<std::pair<Endpoint, std::string>> endpointOverrides;
    bool networkAllowed = true;  // no network filter holds updates back on the current network
    std::string network;         // the current local network's identifier; empty when none
};

StatusReport ReadStatusReport();

// Why the last answered request carried no IPv6 address; empty when IPv6 is off or the provider
// takes IPv4 addresses only, so that nothing was to be sent. Times in one unit, 0 for none.
std::string NoIPv6AddressReason(const SettingsValues& settings, std::int64_t updateTime,
                                std::int64_t settingsTime);

// An ISO 8601 time with the local offset ("2023-11-14T22:13:20+01:00").
std::string IsoTime(std::int64_t utcSeconds);

// "45 s", "12 min", "3 h 5 min", "2 days 4 h".
std::string DurationText(std::int64_t seconds);

}  // namespace quarnel
