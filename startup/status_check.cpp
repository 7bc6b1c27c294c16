#include "startup/status_check.h"

#include <algorithm>
#include <cstdint>

#include "platform/visible_text.h"

namespace quarnel {
namespace {

HealthVerdict Fail(const std::string& why) {
    return {kUnhealthy, "FAIL: " + why};
}

HealthVerdict CannotTell(const std::string& why) {
    return {kCannotTell, "UNKNOWN: " + why};
}

std::string Ago(const StatusReport& report, std::int64_t utcSeconds) {
    return DurationText(report.now - utcSeconds) + " ago";
}

// What the service's last check found that keeps the provider from being told, when that
// check came after the last attempt; empty otherwise.
std::string CheckProblem(const StatusReport& report) {
    if (!report.check || report.check->checked < report.attemptTime) {
        return {};
    }
    const std::string when = " at the last check, " + Ago(report, report.check->checked);
    switch (report.check->finding) {
        case CheckFinding::Filtered:
            return "the network filter held the update back on this network" + when;
        case CheckFinding::NoConnectivity:
            return "no internet connectivity" + when;
        case CheckFinding::NoAddress:
            return "the public address could not be learnt" + when;
        default:
            return {};
    }
}

}  // namespace

HealthVerdict JudgeHealth(const StatusReport& report) {
    if (report.service.state == ServiceRunState::Unknown) {
        return CannotTell("whether the service runs: " + report.service.text);
    }
    if (report.service.state != ServiceRunState::Running) {
        return Fail(report.service.state == ServiceRunState::Stopped && !report.installed
                        ? "the service is not installed"
                        : "the service is " + report.service.text);
    }
    const LastAttempt& attempt = report.attempt;
    const std::string code = VisibleText(attempt.code);
    switch (attempt.outcome) {
        case AttemptOutcome::NotConfigured:
            return Fail("no user name is set, nothing is sent (quarnel-updater /configure)");
        case AttemptOutcome::Refused:
            return Fail("the provider refused the last update with " + code + ", " +
                        Ago(report, report.attemptTime) +
                        "; nothing is sent until the settings change");
        default:
            break;
    }
    if (const std::string problem = CheckProblem(report); !problem.empty()) {
        return Fail(problem);
    }
    const std::int64_t lastAnswer = report.updateTime > 0 ? report.updateTime : report.attemptTime;
    switch (attempt.outcome) {
        case AttemptOutcome::None:
            return Fail("nothing has been sent to the provider yet");
        case AttemptOutcome::Outage:
            return Fail("no answer from the provider for " + DurationText(report.now - lastAnswer) +
                        " (" + VisibleText(attempt.message) + ")");
        case AttemptOutcome::TryLater:
            return Fail("the provider asks to try again later (" + code + ") and has taken no " +
                        "update for " + DurationText(report.now - lastAnswer));
        default:
            break;
    }

    // Accepted: confirmed by that update or by a later check that found nothing to send.
    std::int64_t confirmed = report.attemptTime;
    const bool checked = report.check && (report.check->finding == CheckFinding::Unchanged ||
                                          report.check->finding == CheckFinding::Recorded);
    if (checked) {
        confirmed = std::max(confirmed, report.check->checked);
    }
    const std::int64_t interval = std::max<std::int64_t>(report.settings.intervalMinutes, 1);
    const std::int64_t window = 2 * interval * 60 + interval * 15;
    if (report.now - confirmed <= window) {
        return {kHealthy, "OK: " + VisibleText(attempt.answer) + ", " +
                              Ago(report, report.attemptTime) + "; last confirmed " +
                              Ago(report, confirmed)};
    }
    if (!report.check) {
        return CannotTell(
            "the provider accepted the last update " + Ago(report, report.attemptTime) +
            ", and no later check of the service is on record (" + report.checkReason + ")");
    }
    return Fail("no check for " + DurationText(report.now - confirmed) + ", though the service " +
                "checks every " + std::to_string(interval) + " minutes");
}

}  // namespace quarnel
