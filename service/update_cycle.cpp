#include "service/update_cycle.h"

#include <string>

#include "ddns/ip_address.h"
#include "ddns/update_result.h"
#include "diagnostics/log.h"
#include "settings/registry.h"
#include "settings/schema.h"

namespace quarnel {
namespace {

constexpr const char* kProcedure = "ThreadServiceMain";
constexpr RegistryHive kHive = RegistryHive::LocalMachine;
constexpr std::int64_t kProviderOpenDns = 1;
// The interval installation writes; used when the stored one is missing or not positive, so
// that the service never stops looking.
constexpr std::int64_t kDefaultIntervalMinutes = 5;

std::int64_t ReadInterval() {
    const std::int64_t interval = ReadRegistryDword(kHive, kSettingsKey, kValueInterval);
    if (interval > 0) {
        return interval;
    }
    QLOG(kLogWarn, kProcedure,
         "Interval " + std::to_string(interval) + " is not usable, using " +
             std::to_string(kDefaultIntervalMinutes) + " minutes");
    return kDefaultIntervalMinutes;
}

std::int64_t RegularTimeout(std::int64_t interval, const UpdateCycleEnvironment& environment) {
    return interval * 60 + environment.random(interval * 15);
}

std::int64_t WarningTimeout(const UpdateCycleEnvironment& environment) {
    return 1800 + environment.random(1800);
}

std::int64_t RetryTimeout(const UpdateCycleEnvironment& environment) {
    return 30 + environment.random(60);
}

std::int64_t Announce(std::int64_t nextTimeout) {
    QLOG(kLogInfo, kProcedure,
         "Setting next timer timeout to " + std::to_string(nextTimeout) + " seconds");
    return nextTimeout;
}

bool ConnectivityWithRetries(const UpdateCycleEnvironment& environment) {
    for (int attempt = 0; attempt <= 5; ++attempt) {
        QLOG(kLogTrace, kProcedure, "Try number " + std::to_string(attempt));
        if (environment.testConnectivity()) {
            return true;
        }
        const std::int64_t pause = attempt * 500;
        QLOG(kLogTrace, kProcedure, "Waiting " + std::to_string(pause) + " milliseconds");
        environment.sleep(pause);
    }
    return false;
}

}  // namespace

UpdateCycleLimits DrawUpdateCycleLimits(const UpdateCycleEnvironment& environment) {
    return {604800 + environment.random(1800), 9000 + environment.random(1800)};
}

std::int64_t RunUpdateCycle(const UpdateCycleLimits& limits, UpdateCycleMemory& memory,
                            const UpdateCycleEnvironment& environment) {
    if (environment.testNetwork() == 0) {
        QLOG(kLogWarn, kProcedure, "Network filter prevented update");
        return Announce(RegularTimeout(ReadInterval(), environment));
    }

    QLOG(kLogTrace, kProcedure, "No network filter prevented update, testing internet");
    if (!ConnectivityWithRetries(environment)) {
        QLOG(kLogWarn, kProcedure,
             "Unable to resolve " + environment.probeHostName + ", no internet connectivity");
        return Announce(RetryTimeout(environment));
    }

    QLOG(kLogTrace, kProcedure, "Internet is connected, checking IP using HTTPS");
    const std::string currentIP = environment.getIPAddressHTTPS();
    QLOG(kLogTrace, kProcedure, "Validate current IP = " + currentIP);
    if (currentIP.empty() || !IsValidIPAddress(currentIP)) {
        QLOG(kLogError, kProcedure, "Current IP is not valid");
        return Announce(RetryTimeout(environment));
    }

    QLOG(kLogTrace, kProcedure, "Reading previous results from registry");
    const std::int64_t provider = ReadRegistryDword(kHive, kSettingsKey, kValueService);
    const std::int64_t interval = ReadInterval();
    const std::int64_t settingsTime = ReadRegistryDword(kHive, kSettingsKey, kValueTime);
    const std::int64_t lastUpdateTime = ReadRegistryDword(kHive, kServiceKey, kValueTime);
    const std::string previousIP = ReadRegistryString(kHive, kServiceKey, kValueIp);

    QLOG(kLogInfo, kProcedure, "Compare last update time to settings time");
    QLOG(kLogTrace, kProcedure, "Update = " + std::to_string(lastUpdateTime));
    QLOG(kLogTrace, kProcedure, "Settings = " + std::to_string(settingsTime));
    int updated = settingsTime > lastUpdateTime ? 1 : 0;
    QLOG(kLogInfo, kProcedure,
         updated ? "Settings time is greater than last update time"
                 : "Settings time is not greater than last update time");
    if (!updated && memory.requestRecorded && settingsTime != memory.settingsTimeOfRequest) {
        updated = 1;
        QLOG(kLogInfo, kProcedure, "Settings changed since the last update request");
    }

    QLOG(kLogInfo, kProcedure, "Current IP is valid, compare to previous");
    QLOG(kLogTrace, kProcedure, "CurrentIP = " + currentIP);
    QLOG(kLogTrace, kProcedure, "PreviousIP = " + previousIP);
    const int changed = currentIP != previousIP ? 1 : 0;
    QLOG(kLogInfo, kProcedure,
         changed ? "Current IP does not equal previous IP" : "Current IP does equal previous IP");

    const std::int64_t now = environment.now();
    const std::int64_t age = lastUpdateTime != 0 ? now - lastUpdateTime : 0;
    QLOG(kLogTrace, kProcedure,
         "OpenDNS limit = " + std::to_string(age) + " > " + std::to_string(limits.openDnsLimit));
    QLOG(kLogTrace, kProcedure,
         "Week limit = " + std::to_string(age) + " > " + std::to_string(limits.weekLimit));
    int limit = 0;
    if (provider == kProviderOpenDns && age > limits.openDnsLimit) {
        limit = 1;
        QLOG(kLogTrace, kProcedure, "OpenDNS limit triggered, force update request");
    } else if (age > limits.weekLimit) {
        limit = 1;
        QLOG(kLogTrace, kProcedure, "Week limit triggered, force update request");
    }

    QLOG(kLogInfo, kProcedure, "Checking for updated settings, changed IP or time limit");
    QLOG(kLogTrace, kProcedure, "Updated = " + std::to_string(updated));
    QLOG(kLogTrace, kProcedure, "Changed = " + std::to_string(changed));
    QLOG(kLogTrace, kProcedure, "Limit = " + std::to_string(limit));
    if (!updated && !changed && !limit) {
        QLOG(kLogInfo, kProcedure, "Current IP does equal previous IP and no limit triggered");
        return Announce(RegularTimeout(interval, environment));
    }

    QLOG(kLogInfo, kProcedure, "Reading username from registry");
    const std::string username = ReadRegistryString(kHive, kSettingsKey, kValueUsername);
    std::string result;
    if (!username.empty()) {
        QLOG(kLogInfo, kProcedure, "Sending IP update to remote service");
        result = environment.sendUpdateRequest(currentIP);
    } else {
        QLOG(kLogError, kProcedure, "No username set, result: !noauth");
        result = "!noauth";
    }

    QLOG(kLogTrace, kProcedure, "Checking for empty result");
    if (!result.empty()) {
        QLOG(kLogInfo, kProcedure, "Result is not empty, splitting into code and IP");
    } else {
        QLOG(kLogWarn, kProcedure, "Empty result, updating registry with latest result");
    }
    // The same split the rest of the program (and its tests) use: a missing or empty address
    // field means the address that was sent.
    const UpdateResult split = SplitUpdateResult(result, currentIP);
    const std::string& code = split.code;
    const std::string& resultIP = split.address;

    int eventType = kEventTypeError;
    std::uint32_t eventId = kEventIdError;
    std::int64_t nextTimeout = -1;
    if (code == "good" || code == "nochg") {
        QLOG(kLogInfo, kProcedure, "Result = " + code);
        eventType = kEventTypeInformation;
        eventId = kEventIdInformation;
        nextTimeout = Announce(RegularTimeout(interval, environment));
    } else if (code == "dnserr" || code == "911") {
        QLOG(kLogWarn, kProcedure, "Result = " + code);
        eventType = kEventTypeWarning;
        eventId = kEventIdWarning;
        nextTimeout = Announce(WarningTimeout(environment));
    } else if (result.empty()) {
        // No exchange with the provider took place (network down, TLS failure, time-out): record
        // it as an error, but look again later instead of giving up until the user intervenes.
        QLOG(kLogError, kProcedure, "Result = " + code);
        QLOG(kLogInfo, kProcedure, "No answer from the remote service, retrying later");
        nextTimeout = Announce(WarningTimeout(environment));
    } else {
        QLOG(kLogError, kProcedure, "Result = " + code);
        QLOG(kLogInfo, kProcedure, "Disabling timer");
    }

    memory.requestRecorded = true;
    memory.settingsTimeOfRequest = settingsTime;

    QLOG(kLogTrace, kProcedure, "Updating registry with latest result");
    WriteRegistryDword(kHive, kServiceKey, kValueTime, now);
    WriteRegistryDword(kHive, kServiceKey, kValueLimit, limit);
    WriteRegistryString(kHive, kServiceKey, kValueResult, result);
    WriteRegistryString(kHive, kServiceKey, kValueIp, resultIP);
    WriteRegistryDword(kHive, kServiceKey, kValueEventType, eventType);
    WriteRegistryDword(kHive, kServiceKey, kValueEventId, eventId);

    environment.reportEvent(eventType, eventId, result);
    return nextTimeout;
}

}  // namespace quarnel
