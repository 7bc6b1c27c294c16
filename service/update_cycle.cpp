#include "service/update_cycle.h"

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

#include "ddns/ip_address.h"
#include "ddns/update_result.h"
#include "diagnostics/log.h"
#include "platform/exchange_stop.h"
#include "platform/process.h"
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

// Seconds from now until the periodic limit forces a request, counted from the last request; 0
// when none is due later (no request yet, a stamp ahead of the clock, or one is due already).
std::int64_t SecondsToLimit(const UpdateCycleLimits& limits, std::int64_t provider,
                            std::int64_t lastUpdateTime, std::int64_t now) {
    if (lastUpdateTime == 0 || lastUpdateTime > now) {
        return 0;
    }
    const std::int64_t limit = provider == kProviderOpenDns
                                   ? std::min(limits.openDnsLimit, limits.weekLimit)
                                   : limits.weekLimit;
    // The limit counts once the age exceeds it.
    return std::max<std::int64_t>(limit + 1 - (now - lastUpdateTime), 0);
}

// The interval plus up to a quarter of it, but never past the next periodic limit: a long
// interval would otherwise stretch the promised refresh.
std::int64_t RegularTimeout(std::int64_t interval, const UpdateCycleEnvironment& environment,
                            std::int64_t secondsToLimit) {
    const std::int64_t regular = interval * 60 + environment.random(interval * 15);
    if (secondsToLimit > 0 && secondsToLimit < regular) {
        QLOG(kLogInfo, kProcedure,
             "Next time limit is due in " + std::to_string(secondsToLimit) + " seconds");
        return secondsToLimit;
    }
    return regular;
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

// The stop of network exchanges comes before the service's own stop signal: an exchange it cut
// has to count as stopped when it returns, not as an outage.
bool Stopping(const UpdateCycleEnvironment& environment) {
    if (NetworkExchangesStopped() || (environment.stopping && environment.stopping())) {
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

// Writes the outcome's values in their order, EventID last; true when every one was written.
// Each failure is logged; the first is described in failure.
bool WriteOutcome(const RecordedOutcome& outcome, std::string& failure) {
    bool all = true;
    auto check = [&](int written, std::string_view value) {
        if (written != 0) {
            return;
        }
        const std::uint32_t code = GetLastErrorCode();
        QLOG_ERROR_CODE(kLogError, kProcedure,
                        "Unable to write " + std::string(value) + " to the registry", code);
        if (all) {
            const std::string reason = SystemErrorText(code);
            failure = std::string(value) + (reason.empty() ? "" : ": " + reason);
        }
        all = false;
    };
    if (outcome.sent) {
        check(WriteTimeStamp(kHive, kServiceKey, kValueTime, outcome.time), kValueTime);
    }
    check(WriteRegistryDword(kHive, kServiceKey, kValueLimit, outcome.limit), kValueLimit);
    if (!outcome.result.empty()) {
        check(WriteRegistryString(kHive, kServiceKey, kValueResult, outcome.result), kValueResult);
    }
    if (outcome.sent) {
        check(WriteRegistryString(kHive, kServiceKey, kValueIp, outcome.ip), kValueIp);
        check(StoreIPv6Value(outcome.ip6), kValueIp6);
    }
    check(WriteTimeStamp(kHive, kServiceKey, kValueAttemptTime, outcome.attemptTime),
          kValueAttemptTime);
    check(WriteRegistryString(kHive, kServiceKey, kValueAttemptResult, outcome.attemptResult),
          kValueAttemptResult);
    check(WriteRegistryDword(kHive, kServiceKey, kValueEventType, outcome.eventType),
          kValueEventType);
    check(WriteRegistryDword(kHive, kServiceKey, kValueEventId, outcome.eventId), kValueEventId);
    return all;
}

// Writes an outcome to the store, or keeps it for the next try when the store cannot take it.
void StoreOutcome(RecordedOutcome outcome, UpdateCycleMemory& memory,
                  const UpdateCycleEnvironment& environment) {
    if (memory.unsaved) {
        // What the store missed of an earlier outcome still belongs in it.
        if (!outcome.sent && memory.unsaved->sent) {
            outcome.sent = true;
            outcome.time = memory.unsaved->time;
            outcome.ip = memory.unsaved->ip;
            outcome.ip6 = memory.unsaved->ip6;
        }
        if (outcome.result.empty()) {
            outcome.result = memory.unsaved->result;
        }
    }
    std::string failure;
    if (WriteOutcome(outcome, failure)) {
        memory.unsaved.reset();
        memory.notices.NoteStore(true, {}, environment.notice);
    } else {
        memory.unsaved = std::move(outcome);
        memory.notices.NoteStore(false, failure, environment.notice);
    }
}

struct LastRequest {
    std::int64_t time = 0;
    std::string ip;
};

// The last request as the store has it, or as this run knows it when the store could not take
// it.
LastRequest ReadLastRequest(const UpdateCycleMemory& memory) {
    if (memory.unsaved && memory.unsaved->sent) {
        return {memory.unsaved->time, memory.unsaved->ip};
    }
    return {ReadTimeStamp(kHive, kServiceKey, kValueTime),
            ReadRegistryString(kHive, kServiceKey, kValueIp)};
}

// A stamp ahead of the clock (the clock was set back, a store restored from elsewhere) cannot
// say how long ago it was; told once, not on every cycle.
void TellStampAhead(bool ahead, const char* message, UpdateCycleMemory& memory) {
    if (ahead && !memory.toldStampAhead) {
        QLOG(kLogWarn, kProcedure, message);
    }
    memory.toldStampAhead = ahead;
}

}  // namespace

UpdateCycleLimits DrawUpdateCycleLimits(const UpdateCycleEnvironment& environment) {
    return {604800 + environment.random(1800), 9000 + environment.random(1800)};
}

std::int64_t RunUpdateCycle(const UpdateCycleLimits& limits, UpdateCycleMemory& memory,
                            const UpdateCycleEnvironment& environment) {
    memory.finding = CheckFinding::None;
    if (memory.unsaved) {
        QLOG(kLogInfo, kProcedure, "Writing the outcome the store could not take before");
        StoreOutcome(*memory.unsaved, memory, environment);
    }
    if (environment.testNetwork() == 0) {
        QLOG(kLogWarn, kProcedure, "Network filter prevented update");
        memory.finding = CheckFinding::Filtered;
        const std::int64_t provider = ReadRegistryDword(kHive, kSettingsKey, kValueService);
        return Announce(RegularTimeout(
            ReadInterval(), environment,
            SecondsToLimit(limits, provider, ReadLastRequest(memory).time, environment.now())));
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
        memory.finding = CheckFinding::NoConnectivity;
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
        memory.finding = CheckFinding::NoAddress;
        return Announce(RetryTimeout(environment));
    }

    QLOG(kLogTrace, kProcedure, "Reading previous results from registry");
    const std::int64_t provider = ReadRegistryDword(kHive, kSettingsKey, kValueService);
    const std::int64_t interval = ReadInterval();
    const std::int64_t settingsTime = ReadTimeStamp(kHive, kSettingsKey, kValueTime);
    const LastRequest last = ReadLastRequest(memory);
    std::int64_t lastUpdateTime = last.time;
    const std::string& previousIP = last.ip;
    const std::int64_t now = environment.now();
    // A last update stamped ahead of the clock counts as long ago: it then neither hides newer
    // settings nor holds the periodic limits back.
    const bool updateAhead = lastUpdateTime > now;
    TellStampAhead(updateAhead || settingsTime > now + kSettingsStampLeadSeconds,
                   updateAhead ? "Last update time lies ahead of the clock, counting it as long ago"
                               : "Settings time lies ahead of the clock, sending them once",
                   memory);
    if (updateAhead) {
        lastUpdateTime = 0;
    }

    QLOG(kLogInfo, kProcedure, "Compare last update time to settings time");
    QLOG(kLogTrace, kProcedure, "Update = " + std::to_string(lastUpdateTime));
    QLOG(kLogTrace, kProcedure, "Settings = " + std::to_string(settingsTime));
    int updated = settingsTime > lastUpdateTime ? 1 : 0;
    QLOG(kLogInfo, kProcedure,
         updated ? "Settings time is greater than last update time"
                 : "Settings time is not greater than last update time");
    if (memory.requestRecorded) {
        // Settings sent in this run are not new again, also when their stamp lies after the
        // request's (a stamp ahead of the clock); a changed stamp is new whatever its value.
        const bool sentAlready = settingsTime == memory.settingsTimeOfRequest;
        if (updated && sentAlready) {
            updated = 0;
            QLOG(kLogInfo, kProcedure, "These settings were sent with the last update request");
        } else if (!updated && !sentAlready) {
            updated = 1;
            QLOG(kLogInfo, kProcedure, "Settings changed since the last update request");
        }
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

    const std::int64_t age = lastUpdateTime != 0 ? now - lastUpdateTime : 0;
    QLOG(kLogTrace, kProcedure,
         "OpenDNS limit = " + std::to_string(age) + " > " + std::to_string(limits.openDnsLimit));
    QLOG(kLogTrace, kProcedure,
         "Week limit = " + std::to_string(age) + " > " + std::to_string(limits.weekLimit));
    int limit = 0;
    if (updateAhead) {
        limit = 1;
        QLOG(kLogTrace, kProcedure, "Last update is long ago, force update request");
    } else if (provider == kProviderOpenDns && age > limits.openDnsLimit) {
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
        memory.finding = CheckFinding::Unchanged;
        return Announce(RegularTimeout(interval, environment,
                                       SecondsToLimit(limits, provider, lastUpdateTime, now)));
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
    const bool outage = username.empty() ? false : IsOutage(result, code, status);
    const bool tryLater = !outage && (code == "dnserr" || code == "911");

    RecordedOutcome outcome;
    outcome.eventType = kEventTypeError;
    outcome.eventId = kEventIdError;
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
        outcome.eventType = kEventTypeInformation;
        outcome.eventId = kEventIdInformation;
        nextTimeout = Announce(
            RegularTimeout(interval, environment, SecondsToLimit(limits, provider, now, now)));
        memory.notices.Note(ServiceCondition::Working, {}, environment.notice);
    } else if (tryLater) {
        // The provider did not apply the update and asks to be asked again later: the address
        // counts as not sent, as after an outage, and the next cycle after the pause sends it.
        QLOG(kLogWarn, kProcedure, "Result = " + code);
        QLOG(kLogWarn, kProcedure, "The remote service asks to try later, sending again later");
        outcome.eventType = kEventTypeWarning;
        outcome.eventId = kEventIdWarning;
        nextTimeout = Announce(WarningTimeout(environment));
        memory.notices.Note(ServiceCondition::NoAnswer, NoticeExcerpt(result), environment.notice);
    } else {
        QLOG(kLogError, kProcedure, "Result = " + code);
        QLOG(kLogInfo, kProcedure, "Disabling timer");
        memory.notices.Note(
            username.empty() ? ServiceCondition::NotConfigured : ServiceCondition::Refused,
            NoticeExcerpt(result), environment.notice);
    }

    // Time and IP say what the provider was told and took; after an outage or a "try later"
    // they keep the last exchange it decided on, so the address counts as not sent.
    outcome.sent = !outage && !tryLater;
    outcome.time = now;
    outcome.ip = split.address;
    outcome.ip6 = RecordedIPv6(ipv6, split);
    outcome.limit = limit;
    outcome.result = result;
    outcome.attemptTime = now;
    outcome.attemptResult = result.empty() ? std::string(kNoAnswerMarker) : result;
    if (outcome.sent) {
        memory.requestRecorded = true;
        memory.settingsTimeOfRequest = settingsTime;
    }

    // The history record comes first: a process killed between the two then leaves a record of
    // an attempt the store does not know, which the next start repeats, and never an outcome
    // in the store without its record.
    environment.reportEvent(outcome.eventType, outcome.eventId, result);
    QLOG(kLogTrace, kProcedure, "Updating registry with latest result");
    const RecordedOutcome recorded = outcome;
    StoreOutcome(std::move(outcome), memory, environment);
    memory.finding = CheckFinding::Recorded;
    if (environment.outcomeRecorded) {
        environment.outcomeRecorded(recorded);
    }
    return nextTimeout;
}

}  // namespace quarnel
