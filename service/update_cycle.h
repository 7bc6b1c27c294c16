#pragma once

// One update cycle of the service: check that the network is allowed and the internet reachable,
// learn the public address, decide whether the provider must be told, tell it, record the
// outcome and choose when to look again.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "service/check_record.h"
#include "service/condition_notice.h"

namespace quarnel {

struct RecordedOutcome;

// What the cycle needs from the rest of the program; tests replace any of it.
struct UpdateCycleEnvironment {
    std::function<std::int64_t()> testNetwork;  // nonzero when no network filter objects
    std::function<bool()> testConnectivity;     // the probe host resolves
    std::function<std::string()> getIPAddressHTTPS;
    // The public IPv6 address, empty when none is found; asked only while the IPv6 setting is on
    // and the provider takes one. May be empty.
    std::function<std::string()> getIPv6Address;
    std::function<std::string(const std::string& currentIP)> sendUpdateRequest;
    // The HTTP status of the answer sendUpdateRequest last received, 0 when none; may be empty.
    std::function<int()> answerStatus;
    // True once the service is stopping: the cycle then ends at its next step, recording
    // nothing. May be empty. A stop of the network exchanges (exchange_stop.h) counts as well.
    std::function<bool()> stopping;
    // Records one outcome in the event log (type, event id, the answer as insert string).
    std::function<void(int eventType, std::uint32_t eventId, const std::string& text)> reportEvent;
    std::function<std::int64_t()> now;                 // the program's Time clock
    std::function<std::int64_t(std::int64_t)> random;  // Random(N): 0 to N inclusive
    std::function<void(std::int64_t milliseconds)> sleep;
    std::string probeHostName;  // named in the log when the internet is unreachable
    // Where an administrator is told that the service cannot work; may be empty.
    NoticeWriter notice;
    // Told of every outcome once it is recorded (the outcome hooks); must return at once. May
    // be empty.
    std::function<void(const RecordedOutcome&)> outcomeRecorded;
};

// Limits drawn once per service start.
struct UpdateCycleLimits {
    std::int64_t weekLimit = 0;     // 7 days plus up to 30 minutes
    std::int64_t openDnsLimit = 0;  // 2.5 hours plus up to 30 minutes
};

// The values of the state key that record one outcome, in the order they are written.
struct RecordedOutcome {
    // Time and IP: the request the provider answered; not written when it decided nothing.
    bool sent = false;
    std::int64_t time = 0;
    std::string ip;
    // IP6, written after IP when sent: the IPv6 address the request carried; empty removes it.
    std::string ip6;
    std::int64_t limit = 0;
    std::string result;  // not written when empty, so the previous one stays
    std::int64_t attemptTime = 0;
    std::string attemptResult;
    int eventType = 0;
    std::uint32_t eventId = 0;
};

// What the cycles of one service run remember between them: the settings time stamp the last
// request was made with. Time stamps have whole seconds, so settings applied in the second of a
// request, or while a request was under way, are not newer than the request's own stamp; a
// changed settings stamp still tells that they were not sent yet.
struct UpdateCycleMemory {
    bool requestRecorded = false;
    std::int64_t settingsTimeOfRequest = 0;
    // What the store should hold but could not take; it stands in for the stored values for the
    // rest of the run and is written again at the start of every cycle until the store takes it.
    std::optional<RecordedOutcome> unsaved;
    // A stored time stamp ahead of the clock is told once, not on every cycle.
    bool toldStampAhead = false;
    // What the last cycle found; None when a stop ended it.
    CheckFinding finding = CheckFinding::None;
    // "No IPv6 address found" was logged and no address has been found since.
    bool toldNoIPv6 = false;
    ConditionNotices notices;
};

// The most of an answer that is recorded (Result value, event, log); a longer one is cut there.
inline constexpr std::size_t kRecordedAnswerLimit = 4096;

inline constexpr int kEventTypeError = 1;
inline constexpr int kEventTypeWarning = 2;
inline constexpr int kEventTypeInformation = 4;
inline constexpr std::uint32_t kEventIdInformation = 0x40000064;
inline constexpr std::uint32_t kEventIdWarning = 0x80000065;
inline constexpr std::uint32_t kEventIdError = 0xC0000066;

UpdateCycleLimits DrawUpdateCycleLimits(const UpdateCycleEnvironment& environment);

// Runs one cycle and returns the next time-out in seconds; 0 or less arms no timer or watch.
std::int64_t RunUpdateCycle(const UpdateCycleLimits& limits, UpdateCycleMemory& memory,
                            const UpdateCycleEnvironment& environment);

}  // namespace quarnel
