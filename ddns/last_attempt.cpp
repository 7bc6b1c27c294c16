#include "ddns/last_attempt.h"

#include <utility>

#include "ddns/update_result.h"
#include "settings/registry.h"
#include "settings/schema.h"

namespace quarnel {
namespace {

constexpr int kEventTypeError = 1;

AttemptOutcome Classify(const std::string& code, int eventType) {
    if (code == "!noauth") {
        return AttemptOutcome::NotConfigured;
    }
    if (!IsProviderReturnCode(code)) {
        return AttemptOutcome::Outage;
    }
    if (code == "dnserr" || code == "911") {
        return AttemptOutcome::TryLater;
    }
    if (code == "good" || code == "nochg") {
        // Recorded as an error, an accepting word came with a server error status.
        return eventType == kEventTypeError ? AttemptOutcome::Outage : AttemptOutcome::Accepted;
    }
    return AttemptOutcome::Refused;
}

}  // namespace

LastAttempt DescribeAttempt(std::string answer, int eventType, std::uint32_t eventId,
                            std::int64_t time, std::string_view address) {
    LastAttempt attempt;
    attempt.eventType = eventType;
    attempt.eventId = eventId;
    attempt.time = time;
    attempt.answer = std::move(answer);
    if (attempt.answer.empty()) {
        return attempt;
    }
    const UpdateResult split = SplitUpdateResult(attempt.answer, address);
    attempt.code = split.code;
    attempt.address = split.address;
    attempt.outcome = Classify(attempt.code, attempt.eventType);
    attempt.reachedProvider = attempt.outcome == AttemptOutcome::Accepted ||
                              attempt.outcome == AttemptOutcome::TryLater ||
                              attempt.outcome == AttemptOutcome::Refused;
    attempt.message = GetResultMessage(attempt.code, ResultAddresses(split));
    if (attempt.message.empty()) {
        attempt.message = GetResultMessage("!unknown", attempt.answer);
    }
    return attempt;
}

LastAttempt ReadLastAttempt() {
    constexpr RegistryHive hive = RegistryHive::LocalMachine;
    const int eventType = static_cast<int>(ReadRegistryDword(hive, kServiceKey, kValueEventType));
    const auto eventId =
        static_cast<std::uint32_t>(ReadRegistryDword(hive, kServiceKey, kValueEventId));
    std::string answer = ReadRegistryString(hive, kServiceKey, kValueAttemptResult);
    const bool fromAttemptValues = !answer.empty();
    std::int64_t time = 0;
    if (fromAttemptValues) {
        time = ReadTimeStamp(hive, kServiceKey, kValueAttemptTime);
    } else {
        time = ReadTimeStamp(hive, kServiceKey, kValueTime);
        answer = ReadRegistryString(hive, kServiceKey, kValueResult);
        if (answer.empty() && eventId != 0) {
            // An older build recorded an attempt without an answer by its event alone.
            answer = std::string(kNoAnswerMarker);
        }
    }
    LastAttempt attempt = DescribeAttempt(std::move(answer), eventType, eventId, time,
                                          ReadRegistryString(hive, kServiceKey, kValueIp));
    attempt.fromAttemptValues = fromAttemptValues;
    return attempt;
}

}  // namespace quarnel
