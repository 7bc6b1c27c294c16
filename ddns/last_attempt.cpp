#include "ddns/last_attempt.h"

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

LastAttempt ReadLastAttempt() {
    constexpr RegistryHive hive = RegistryHive::LocalMachine;
    LastAttempt attempt;
    attempt.eventType = static_cast<int>(ReadRegistryDword(hive, kServiceKey, kValueEventType));
    attempt.eventId =
        static_cast<std::uint32_t>(ReadRegistryDword(hive, kServiceKey, kValueEventId));
    attempt.answer = ReadRegistryString(hive, kServiceKey, kValueAttemptResult);
    attempt.fromAttemptValues = !attempt.answer.empty();
    if (attempt.fromAttemptValues) {
        attempt.time = ReadTimeStamp(hive, kServiceKey, kValueAttemptTime);
    } else {
        attempt.time = ReadTimeStamp(hive, kServiceKey, kValueTime);
        attempt.answer = ReadRegistryString(hive, kServiceKey, kValueResult);
        if (attempt.answer.empty() && attempt.eventId != 0) {
            // An older build recorded an attempt without an answer by its event alone.
            attempt.answer = std::string(kNoAnswerMarker);
        }
    }
    if (attempt.answer.empty()) {
        return attempt;
    }

    const UpdateResult split =
        SplitUpdateResult(attempt.answer, ReadRegistryString(hive, kServiceKey, kValueIp));
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

}  // namespace quarnel
