#include "service/update_cycle.h"

#include <cstddef>
#include <string>
#include <string_view>

#include "ddns/ip_address.h"
#include "ddns/update_result.h"
#include "diagnostics/log.h"
#include "service/dual_stack.h"
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

bool Stopping(const UpdateCycleEnvironment& environment) {
    if (environment.stopping && environment.stopping()) {
        QLOG(kLogInfo, kProcedure, "Service is stopping, ending the cycle");
        return true;
    }
    return false;
}

bool ConnectivityWithRetries(const UpdateCycleEnvironment& environment) {
    for (int attempt = 0; attempt <= 5; ++attempt) {
        if (Stopping(environment)) {
            return false;
        }
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

// At most kRecordedAnswerLimit bytes, never cutting a UTF-8 sequence in two.
std::string CapAnswer(std::string answer) {
    if (answer.size() <= kRecordedAnswerLimit) {
        return answer;
    }
    std::size_t end = kRecordedAnswerLimit;
    while (end > 0 && (static_cast<unsigned char>(answer[end]) & 0xC0) == 0x80) {
        --end;
    }
    answer.resize(end);
    return answer;
}

// No verdict of the provider came back: nothing, a server error, or a page that is no answer of
// the protocol (a proxy's or load balancer's error page).
bool IsOutage(const std::string& result, const std::string& code, int status) {
    if (result.empty() || !IsProviderReturnCode(code)) {
        return true;
    }
    return status >= 500 && status <= 599 && code != "dnserr" && code != "911";
}

// The start of an answer, on one line, for a notice.
std::string NoticeExcerpt(const std::string& answer) {
    constexpr std::size_t kLength = 80;
    std::string line = answer.substr(0, answer.find_first_of("\r\n"));
    if (line.size() > kLength) {
        line.resize(kLength);
        while (!line.empty() && (static_cast<unsigned char>(line.back()) & 0x80) != 0) {
            line.pop_back();
        }
        line += "...";
    }
    return "\"" + line + "\"";
}

// True when written; a failure is logged.
bool LogWriteFailure(int written, std::string_view value) {
    if (written == 0) {
        QLOG(kLogError, kProcedure, "Unable to write " + std::string(value) + " to the registry");
    }
    return written != 0;
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
        if (Stopping(environment)) {
            return 0;
        }
        QLOG(kLogWarn, kProcedure,
             "Unable to resolve " + environment.probeHostName + ", no internet connectivity");
        memory.notices.Note(ServiceCondition::NoConnectivity, environment.probeHostName,
                            environment.notice);
        return Announce(RetryTimeout(environment));
    }

    QLOG(kLogTrace, kProcedure, "Internet is connected, checking IP using HTTPS");
    const std::string currentIP = environment.getIPAddressHTTPS();
    if (Stopping(environment)) {
        return 0;
    }
    QLOG(kLogTrace, kProcedure, "Validate current IP = " + currentIP);
    if (currentIP.empty() || !IsValidIPAddress(currentIP)) {
        QLOG(kLogError, kProcedure, "Current IP is not valid");
        memory.notices.Note(ServiceCondition::NoAddress, {}, environment.notice);
        return Announce(RetryTimeout(environment));
    }

    QLOG(kLogTrace, kProcedure, "Reading previous results from registry");
    const std::int64_t provider = ReadRegistryDword(kHive, kSettingsKey, kValueService);
    const std::int64_t interval = ReadInterval();
    const std::int64_t settingsTime = ReadTimeStamp(kHive, kSettingsKey, kValueTime);
    std::int64_t lastUpdateTime = ReadTimeStamp(kHive, kServiceKey, kValueTime);
    std::string previousIP = ReadRegistryString(kHive, kServiceKey, kValueIp);
    if (memory.requestUnsaved) {
        // The store could not take the last request's outcome; this run still knows it.
        lastUpdateTime = memory.timeOfRequest;
        previousIP = memory.ipOfRequest;
    }

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
    int changed = currentIP != previousIP ? 1 : 0;
    QLOG(kLogInfo, kProcedure,
         changed ? "Current IP does not equal previous IP" : "Current IP does equal previous IP");
    const IPv6Step ipv6 = LearnIPv6Step(provider, memory, environment);
    if (ipv6.wanted && Stopping(environment)) {
        return 0;
    }
    changed = changed || IPv6Changed(ipv6) ? 1 : 0;

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
        memory.notices.Note(ServiceCondition::Working, {}, environment.notice);
        return Announce(RegularTimeout(interval, environment));
    }

    QLOG(kLogInfo, kProcedure, "Reading username from registry");
    const std::string username = ReadRegistryString(kHive, kSettingsKey, kValueUsername);
    std::string result;
    int status = 0;
    if (!username.empty()) {
        QLOG(kLogInfo, kProcedure, "Sending IP update to remote service");
        result = CapAnswer(environment.sendUpdateRequest(RequestAddresses(currentIP, ipv6)));
        status = environment.answerStatus ? environment.answerStatus() : 0;
        if (Stopping(environment)) {
            // The answer, if any, was cut off: what reached the provider is unknown, so nothing
            // is recorded and the next start sends again.
            return 0;
        }
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
    // The same split the rest of the program (and its tests) use: only the first line counts,
    // and an address field that is no address means the address that was sent.
    const UpdateResult split = SplitUpdateResult(result, currentIP);
    const std::string& code = split.code;
    const std::string& resultIP = split.address;
    const bool outage = username.empty() ? false : IsOutage(result, code, status);

    int eventType = kEventTypeError;
    std::uint32_t eventId = kEventIdError;
    std::int64_t nextTimeout = -1;
    if (outage) {
        // Nothing the provider decided came back, so the address counts as not sent: the next
        // cycle sends it again. No answer, a server error (5xx) and a page that is no answer of
        // the protocol are all handled this way.
        QLOG(kLogError, kProcedure, "Result = " + code);
        QLOG(kLogWarn, kProcedure,
             "No answer from the remote service (HTTP status " + std::to_string(status) +
                 "), sending again later");
        nextTimeout = Announce(WarningTimeout(environment));
        memory.notices.Note(
            ServiceCondition::NoAnswer,
            result.empty() ? std::string("nothing came back")
                           : "HTTP status " + std::to_string(status) + ", " + NoticeExcerpt(result),
            environment.notice);
    } else if (code == "good" || code == "nochg") {
        QLOG(kLogInfo, kProcedure, "Result = " + code);
        eventType = kEventTypeInformation;
        eventId = kEventIdInformation;
        nextTimeout = Announce(RegularTimeout(interval, environment));
        memory.notices.Note(ServiceCondition::Working, {}, environment.notice);
    } else if (code == "dnserr" || code == "911") {
        QLOG(kLogWarn, kProcedure, "Result = " + code);
        eventType = kEventTypeWarning;
        eventId = kEventIdWarning;
        nextTimeout = Announce(WarningTimeout(environment));
        memory.notices.Note(ServiceCondition::NoAnswer, NoticeExcerpt(result), environment.notice);
    } else {
        QLOG(kLogError, kProcedure, "Result = " + code);
        QLOG(kLogInfo, kProcedure, "Disabling timer");
        memory.notices.Note(
            username.empty() ? ServiceCondition::NotConfigured : ServiceCondition::Refused,
            NoticeExcerpt(result), environment.notice);
    }

    QLOG(kLogTrace, kProcedure, "Updating registry with latest result");
    // Time and IP say what the provider was told; after an outage they keep the last exchange
    // that reached it, so the address counts as not sent.
    bool saved = true;
    if (!outage) {
        saved = LogWriteFailure(WriteTimeStamp(kHive, kServiceKey, kValueTime, now), kValueTime);
    }
    LogWriteFailure(WriteRegistryDword(kHive, kServiceKey, kValueLimit, limit), kValueLimit);
    if (!result.empty()) {
        LogWriteFailure(WriteRegistryString(kHive, kServiceKey, kValueResult, result),
                        kValueResult);
    }
    if (!outage) {
        saved = LogWriteFailure(WriteRegistryString(kHive, kServiceKey, kValueIp, resultIP),
                                kValueIp) &&
                saved;
        saved = LogWriteFailure(RecordIPv6(ipv6, split, memory), kValueIp6) && saved;
        memory.requestRecorded = true;
        memory.settingsTimeOfRequest = settingsTime;
        memory.requestUnsaved = !saved;
        memory.ipOfRequest = resultIP;
        memory.timeOfRequest = now;
    }
    LogWriteFailure(WriteRegistryDword(kHive, kServiceKey, kValueEventType, eventType),
                    kValueEventType);
    LogWriteFailure(WriteRegistryDword(kHive, kServiceKey, kValueEventId, eventId), kValueEventId);

    environment.reportEvent(eventType, eventId, result);
    return nextTimeout;
}

}  // namespace quarnel
