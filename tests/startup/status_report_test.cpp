// What "/status --json" and "/status --check" make of a status report: JSON strings for any
// stored bytes, times with their offset, the document for each outcome, and the health verdict
// for each state of the service.

#include "startup/status_report.h"

#include <gtest/gtest.h>
#include <time.h>

#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "startup/json_writer.h"
#include "startup/status_check.h"
#include "startup/status_json.h"
#include "tests/support/test_support.h"

namespace quarnel {
namespace {

TEST(JsonString, AnyBytesBecomeAValidStringThatKeepsWhatCanBeKept) {
    struct Case {
        std::string text;
        std::string written;  // without the quotes
        std::string read;     // what a JSON parser reads back
    };
    const std::vector<Case> cases = {
        {"good 198.51.100.7", "good 198.51.100.7", "good 198.51.100.7"},
        {"Büro \"WLAN\" C:\\x", "Büro \\\"WLAN\\\" C:\\\\x", "Büro \"WLAN\" C:\\x"},
        {"a\nb\tc\r", "a\\nb\\tc\\u000d", "a\nb\tc\r"},
        {"\x1b[2J\x07\x7f", "\\u001b[2J\\u0007\\u007f", "\x1b[2J\x07\x7f"},
        {std::string("nul\0end", 7), "nul\\u0000end", std::string("nul\0end", 7)},
        {"csi\xc2\x9b", "csi\\u009b", "csi\xc2\x9b"},             // C1 control
        {"line\xe2\x80\xa8", "line\\u2028", "line\xe2\x80\xa8"},  // a line separator
        {"raw\xff", "raw\\ufffd", "raw\xef\xbf\xbd"},             // no UTF-8 at all
        {"cut\xe2\x82", "cut\\ufffd\\ufffd", "cut\xef\xbf\xbd\xef\xbf\xbd"},
        {"long\xc0\xaf", "long\\ufffd\\ufffd", "long\xef\xbf\xbd\xef\xbf\xbd"},
        {"\xed\xa0\x80", "\\ufffd\\ufffd\\ufffd", "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"},
    };
    for (const Case& c : cases) {
        const std::string written = JsonString(c.text);
        EXPECT_EQ(written, "\"" + c.written + "\"");
        const nlohmann::json read = nlohmann::json::parse(written, nullptr, false);
        ASSERT_TRUE(read.is_string()) << written;
        EXPECT_EQ(read.get<std::string>(), c.read);
    }
}

TEST(IsoTime, CarriesTheLocalOffsetOfThatTime) {
    struct Case {
        const char* zone;
        std::int64_t utc;
        std::string text;
    };
    const std::vector<Case> cases = {
        {"UTC0", 1700000000, "2023-11-14T22:13:20+00:00"},
        {"CET-1CEST,M3.5.0,M10.5.0/3", 1700000000, "2023-11-14T23:13:20+01:00"},
        {"CET-1CEST,M3.5.0,M10.5.0/3", 1688169600, "2023-07-01T02:00:00+02:00"},
        {"XXX5", 1700000000, "2023-11-14T17:13:20-05:00"},
        {"XXX-5:30", 1700000000, "2023-11-15T03:43:20+05:30"},
    };
    for (const Case& c : cases) {
        const test::ScopedEnvironment zone("TZ", c.zone);
        tzset();
        EXPECT_EQ(IsoTime(c.utc), c.text) << c.zone;
    }
    tzset();
}

constexpr std::int64_t kNow = 1700000000;

// A service that runs, with an interval of 10 minutes, that the provider accepted a minute ago.
StatusReport Healthy() {
    StatusReport report;
    report.now = kNow;
    report.service = {ServiceRunState::Running, "running"};
    report.installed = true;
    report.settings.intervalMinutes = 10;
    report.attempt.outcome = AttemptOutcome::Accepted;
    report.attempt.code = "good";
    report.attempt.answer = "good 203.0.113.5";
    report.attempt.reachedProvider = true;
    report.attemptTime = kNow - 60;
    report.updateTime = kNow - 60;
    report.check = CheckRecord{kNow - 60, CheckFinding::Recorded, kNow + 600};
    return report;
}

TEST(JudgeHealth, EachStateGivesItsExitCodeAndSaysWhy) {
    struct Case {
        std::string name;
        std::function<void(StatusReport&)> change;
        int exitCode;
        std::string line;  // the start of the line
    };
    const auto outcome = [](AttemptOutcome o, const char* code) {
        return [o, code](StatusReport& r) {
            r.attempt.outcome = o;
            r.attempt.code = code;
            r.attempt.message = "what it means";
        };
    };
    const auto found = [](CheckFinding finding) {
        return [finding](StatusReport& r) { r.check->finding = finding; };
    };
    // A check one second before the last update (a minute ago) that found the problem.
    const auto checkedBefore = [](CheckFinding finding) {
        return [finding](StatusReport& r) { r.check = CheckRecord{kNow - 61, finding, 0}; };
    };
    const auto state = [](ServiceRunState run, const char* text) {
        return [run, text](StatusReport& r) { r.service = {run, text}; };
    };
    const std::vector<Case> cases = {
        {"accepted a minute ago", [](StatusReport&) {}, kHealthy,
         "OK: good 203.0.113.5, 1 min ago"},
        // The window is twice the interval plus a quarter of it: 22 min 30 s.
        {"confirmed by a check that found nothing to send",
         [](StatusReport& r) {
             r.attemptTime = kNow - 86400;
             r.check = CheckRecord{kNow - 1350, CheckFinding::Unchanged, kNow};
         },
         kHealthy, "OK: good 203.0.113.5, 1 day 0 h ago; last confirmed 22 min ago"},
        {"no check within the window",
         [](StatusReport& r) {
             r.attemptTime = kNow - 86400;
             r.check = CheckRecord{kNow - 1351, CheckFinding::Unchanged, kNow};
         },
         kUnhealthy, "FAIL: no check for 22 min"},
        {"an old update and no check on record",
         [](StatusReport& r) {
             r.attemptTime = kNow - 86400;
             r.check.reset();
             r.checkReason = "none";
         },
         kCannotTell, "UNKNOWN: the provider accepted the last update 1 day 0 h ago"},
        {"the service's state unknown",
         [](StatusReport& r) {
             r.service = {ServiceRunState::Unknown, "cannot tell (only root may ask the service)"};
         },
         kCannotTell, "UNKNOWN: whether the service runs: cannot tell (only root"},
        {"stopped", state(ServiceRunState::Stopped, "not running"), kUnhealthy,
         "FAIL: the service is not running"},
        {"not installed",
         [](StatusReport& r) {
             r.service = {ServiceRunState::Stopped, "not running"};
             r.installed = false;
         },
         kUnhealthy, "FAIL: the service is not installed"},
        {"paused", state(ServiceRunState::Paused, "paused"), kUnhealthy,
         "FAIL: the service is paused"},
        {"refused", outcome(AttemptOutcome::Refused, "badauth"), kUnhealthy,
         "FAIL: the provider refused the last update with badauth, 1 min ago"},
        {"no user name", outcome(AttemptOutcome::NotConfigured, "!noauth"), kUnhealthy,
         "FAIL: no user name is set"},
        {"no answer",
         [&](StatusReport& r) {
             outcome(AttemptOutcome::Outage, "!noanswer")(r);
             r.updateTime = kNow - 7500;
         },
         kUnhealthy, "FAIL: no answer from the provider for 2 h 5 min (what it means)"},
        {"try later", outcome(AttemptOutcome::TryLater, "dnserr"), kUnhealthy,
         "FAIL: the provider asks to try again later (dnserr)"},
        {"nothing sent yet", outcome(AttemptOutcome::None, ""), kUnhealthy,
         "FAIL: nothing has been sent to the provider yet"},
        {"filtered network", found(CheckFinding::Filtered), kUnhealthy,
         "FAIL: the network filter held the update back on this network at the last check, 1 "
         "min ago"},
        {"no connectivity", found(CheckFinding::NoConnectivity), kUnhealthy,
         "FAIL: no internet connectivity at the last check"},
        {"no address", found(CheckFinding::NoAddress), kUnhealthy,
         "FAIL: the public address could not be learnt"},
        {"a problem before the last update counts no more", checkedBefore(CheckFinding::Filtered),
         kHealthy, "OK:"},
    };
    for (const Case& c : cases) {
        StatusReport report = Healthy();
        c.change(report);
        const HealthVerdict verdict = JudgeHealth(report);
        EXPECT_EQ(verdict.exitCode, c.exitCode) << c.name << ": " << verdict.line;
        EXPECT_EQ(verdict.line.rfind(c.line, 0), 0u) << c.name << ": " << verdict.line;
    }
}

// Each outcome as a script reads it: a value or null with its reason, never a guess.
TEST(StatusJson, EachOutcomeReadsAsAScriptExpectsIt) {
    struct Case {
        std::string answer;  // as recorded; empty: nothing attempted
        int eventType;
        std::string outcome;
        nlohmann::json event;
        nlohmann::json code;  // null: "codeReason" says why
        bool answerKnown;
        bool reached;
    };
    const std::string errorPage = "<html>\x1b[31mBad Gateway\r\n";
    const std::vector<Case> cases = {
        {"good 203.0.113.5", 4, "accepted", "update", "good", true, true},
        {"nochg 203.0.113.5", 4, "accepted", "nochg", "nochg", true, true},
        {"badauth", 1, "refused", "error", "badauth", true, true},
        {"dnserr", 2, "try-later", "error", "dnserr", true, true},
        {"!noauth", 1, "not-configured", "error", "!noauth", false, false},
        {"!noanswer", 1, "outage", "outage", nullptr, false, false},
        {errorPage, 1, "outage", "outage", nullptr, true, false},
        {"", 0, "none", nullptr, nullptr, false, false},
    };
    for (const Case& c : cases) {
        StatusReport report = Healthy();
        report.settings.password = "pass-word";
        report.settings.hostName = "home.example.org";
        report.attempt = DescribeAttempt(c.answer, c.eventType, 1, kNow - 60, "203.0.113.5");
        if (c.answer.empty()) {
            report.attemptTime = 0;
        }
        const std::string text = StatusJson(report);
        const nlohmann::json document = nlohmann::json::parse(text, nullptr, false);
        ASSERT_TRUE(document.is_object()) << text;
        EXPECT_EQ(text.find("pass-word"), std::string::npos) << text;
        EXPECT_EQ(document["format"], 1);
        EXPECT_EQ(document["settings"]["hostname"], "home.example.org");
        const nlohmann::json& attempt = document["lastAttempt"];
        EXPECT_EQ(attempt["outcome"], c.outcome) << text;
        EXPECT_EQ(attempt["event"], c.event) << text;
        EXPECT_EQ(attempt["code"], c.code) << text;
        EXPECT_EQ(attempt["reachedProvider"], c.reached) << text;
        for (const char* name : {"time", "event", "code", "answer", "message"}) {
            EXPECT_EQ(attempt[name].is_null(), attempt.contains(std::string(name) + "Reason"))
                << name << ": " << text;
        }
        EXPECT_EQ(attempt["answer"].is_string(), c.answerKnown) << text;
        if (c.answerKnown) {
            EXPECT_EQ(attempt["answer"], c.answer);  // control characters and all
        }
        EXPECT_EQ(attempt["time"].is_string(), !c.answer.empty()) << text;
        EXPECT_EQ(attempt["message"].is_string(), !c.answer.empty()) << text;
    }
}

// The IPv6 address of the last answered request, or why there is none.
TEST(StatusJson, TheIPv6AddressOrWhyThereIsNone) {
    struct Case {
        bool ipv6;
        std::int64_t provider;
        std::string address6;
        std::int64_t settingsTime;
        nlohmann::json value;
        std::string reason;  // the start of "address6Reason"
    };
    const std::vector<Case> cases = {
        {false, 0, "", 0, nullptr, "IPv6 is off"},
        {true, 0, "2001:db8::5", 0, "2001:db8::5", ""},
        {true, 1, "", 0, nullptr, "OpenDNS takes IPv4 addresses only"},
        {true, 0, "", 0, nullptr, "none found at the last update"},
        {true, 0, "", kNow, nullptr, "not sent yet"},
    };
    for (const Case& c : cases) {
        StatusReport report = Healthy();
        report.settings.ipv6 = c.ipv6;
        report.settings.providerIndex = c.provider;
        report.updateAddress6 = c.address6;
        report.settingsTime = c.settingsTime;
        const nlohmann::json document = nlohmann::json::parse(StatusJson(report), nullptr, false);
        EXPECT_EQ(document["settings"]["ipv6"], c.ipv6);
        EXPECT_EQ(document["settings"]["ipv6Sent"], c.ipv6 && c.provider == 0);
        EXPECT_EQ(document["lastUpdate"]["address6"], c.value) << c.reason;
        EXPECT_EQ(document["lastUpdate"].value("address6Reason", "").rfind(c.reason, 0), 0u)
            << document["lastUpdate"];
    }
}

}  // namespace
}  // namespace quarnel
