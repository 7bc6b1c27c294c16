#include "service/update_cycle.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "platform/exchange_stop.h"
#include "settings/registry.h"
#include "tests/support/test_support.h"
#include "tests/support/trace_log.h"

namespace quarnel {
namespace {

constexpr RegistryHive kHive = RegistryHive::LocalMachine;
constexpr const char* kSettings = "SOFTWARE\\Quarnel Updater\\Settings";
constexpr const char* kService = "SOFTWARE\\Quarnel Updater\\Service";
constexpr std::int64_t kNow = 1'700'000'000;

struct Event {
    int type;
    std::uint32_t id;
    std::string text;
    std::string storedAttemptResult;  // as the store held it when the record was written
};

// A cycle against the real store in a temporary root, with the network, the provider, the clock
// and the random source scripted by the test.
class UpdateCycleTest : public ::testing::Test {
  protected:
    UpdateCycleTest() : rootEnvironment_("QUARNEL_ROOT", root_.Path()) {
        CreateRegistryKey(kHive, kSettings);
        CreateRegistryKey(kHive, kService);
        WriteRegistryDword(kHive, kSettings, "Interval", 10);
        WriteRegistryString(kHive, kSettings, "Username", "alice");
        WriteRegistryDword(kHive, kSettings, "Time", kNow - 7200);
    }

    UpdateCycleEnvironment Environment() {
        UpdateCycleEnvironment e;
        e.testNetwork = [this] { return networkAllowed ? 1 : 0; };
        e.testConnectivity = [this] { return ++connectivityTests > failingConnectivityTests; };
        e.getIPAddressHTTPS = [this] { return echoAnswer; };
        e.getIPv6Address = [this] {
            ++ipv6Lookups;
            return learntIPv6;
        };
        e.sendUpdateRequest = [this](const std::string& ip) {
            requests.push_back(ip);
            return providerAnswer;
        };
        e.answerStatus = [this] { return answerStatus; };
        e.reportEvent = [this](int type, std::uint32_t id, const std::string& text) {
            events.push_back(
                {type, id, text, ReadRegistryString(kHive, kService, "AttemptResult")});
        };
        e.now = [] { return kNow; };
        e.random = [this](std::int64_t n) {
            randomArguments.push_back(n);
            return n / 3;
        };
        e.sleep = [this](std::int64_t ms) { pauses.push_back(ms); };
        e.probeHostName = "probe.example";
        e.notice = [this](int priority, const std::string& text) {
            notices.emplace_back(priority, text);
        };
        e.outcomeRecorded = [this](const RecordedOutcome& outcome) {
            told.push_back(outcome.attemptResult);
        };
        return e;
    }

    std::int64_t RunCycle() {
        return RunUpdateCycle({604800 + 900, 9000 + 900}, memory, Environment());
    }

    void StoreLastUpdate(std::int64_t time, const std::string& ip, const std::string& result) {
        WriteRegistryDword(kHive, kService, "Time", time);
        WriteRegistryString(kHive, kService, "IP", ip);
        WriteRegistryString(kHive, kService, "Result", result);
    }

    test::TemporaryFolder root_;
    test::ScopedEnvironment rootEnvironment_;

    bool networkAllowed = true;
    int failingConnectivityTests = 0;
    int connectivityTests = 0;
    std::string echoAnswer = "203.0.113.5";
    // An IPv6 address is there to be found; only the IPv6 setting makes the cycle ask for it.
    std::string learntIPv6 = "2001:db8::5";
    int ipv6Lookups = 0;
    std::string providerAnswer = "good 203.0.113.5";
    int answerStatus = 200;
    std::vector<std::string> requests;
    std::vector<Event> events;
    std::vector<std::int64_t> randomArguments;
    std::vector<std::int64_t> pauses;
    UpdateCycleMemory memory;
    std::vector<std::pair<int, std::string>> notices;
    std::vector<std::string> told;  // the outcomes the hooks were told of
};

TEST_F(UpdateCycleTest, FirstStartSendsAnUpdateAndRecordsTheOutcome) {
    EXPECT_EQ(RunCycle(), 600 + 150 / 3);
    EXPECT_EQ(requests, std::vector<std::string>{"203.0.113.5"});
    EXPECT_EQ(ReadRegistryDword(kHive, kService, "Time"), kNow);
    EXPECT_EQ(ReadRegistryDword(kHive, kService, "Limit"), 0);
    EXPECT_EQ(ReadRegistryString(kHive, kService, "Result"), "good 203.0.113.5");
    EXPECT_EQ(ReadRegistryString(kHive, kService, "IP"), "203.0.113.5");
    EXPECT_EQ(ReadRegistryDword(kHive, kService, "EventType"), 4);
    EXPECT_EQ(ReadRegistryDword(kHive, kService, "EventID"), static_cast<std::int32_t>(0x40000064));
    EXPECT_EQ(ReadRegistryDword(kHive, kService, "AttemptTime"), kNow);
    EXPECT_EQ(ReadRegistryString(kHive, kService, "AttemptResult"), "good 203.0.113.5");
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].type, 4);
    EXPECT_EQ(events[0].id, 0x40000064u);
    EXPECT_EQ(events[0].text, "good 203.0.113.5");
    // The history record is written before the outcome reaches the store.
    EXPECT_EQ(events[0].storedAttemptResult, "");

    // With the IPv6 setting off (the default) nothing about IPv6 is asked or stored: the key
    // holds the values it always did (listed where the store is a folder tree).
    EXPECT_EQ(ipv6Lookups, 0);
    EXPECT_EQ(ReadRegistryString(kHive, kService, "IP6"), "");
    const std::filesystem::path key = root_.Path() +
                                      "/var/lib/quarnel-updater/registry/HKEY_LOCAL_MACHINE/"
                                      "SOFTWARE/Quarnel Updater/Service";
    if (std::filesystem::exists(key)) {
        std::vector<std::string> values;
        for (const auto& entry : std::filesystem::directory_iterator(key)) {
            values.push_back(entry.path().filename().string());
        }
        std::sort(values.begin(), values.end());
        EXPECT_EQ(values, (std::vector<std::string>{"AttemptResult.value", "AttemptTime.value",
                                                    "EventID.value", "EventType.value", "IP.value",
                                                    "Limit.value", "Result.value", "Time.value"}));
    }
}

TEST_F(UpdateCycleTest, WithIPv6OnBothAddressesAreComparedSentAndRecorded) {
    const struct {
        const char* name;
        std::int64_t provider;
        bool ipv6Setting;
        const char* storedIP6;  // "" for none
        const char* learnt;
        const char* echo;
        const char* answer;
        const char* request;  // "" for none
        const char* recordedIP6;
    } cases[] = {
        {"an IPv6 change alone", 0, true, "2001:db8::4", "2001:db8::5", "203.0.113.5",
         "good 203.0.113.5,2001:db8::5", "203.0.113.5,2001:db8::5", "2001:db8::5"},
        {"nothing changed", 5, true, "2001:db8::5", "2001:db8::5", "203.0.113.5", "", "",
         "2001:db8::5"},
        {"an address no longer found is no change", 3, true, "2001:db8::5", "", "203.0.113.5", "",
         "", "2001:db8::5"},
        {"a text that is no canonical global address is none", 4, true, "2001:db8::5", "fd00::6",
         "203.0.113.5", "", "", "2001:db8::5"},
        {"none found: IPv4 alone", 0, true, "2001:db8::5", "2001:DB8::6", "203.0.113.9",
         "good 203.0.113.9", "203.0.113.9", ""},
        {"an answer naming IPv4 only records what was sent", 0, true, "", "2001:db8::6",
         "203.0.113.9", "good 203.0.113.9", "203.0.113.9,2001:db8::6", "2001:db8::6"},
        {"the address the answer names", 0, true, "", "2001:db8::6", "203.0.113.9",
         "nochg 203.0.113.9,2001:db8::7", "203.0.113.9,2001:db8::6", "2001:db8::7"},
        {"OpenDNS takes IPv4 only", 1, true, "2001:db8::4", "2001:db8::5", "203.0.113.9",
         "good 203.0.113.9", "203.0.113.9", ""},
        {"off: one left from before goes", 0, false, "2001:db8::4", "2001:db8::5", "203.0.113.9",
         "good 203.0.113.9", "203.0.113.9", ""},
    };
    for (const auto& c : cases) {
        StoreLastUpdate(kNow - 3600, "203.0.113.5", "good 203.0.113.5");
        if (*c.storedIP6) {
            WriteRegistryString(kHive, kService, "IP6", c.storedIP6);
        } else {
            DeleteRegistryValue(kHive, kService, "IP6");
        }
        WriteRegistryDword(kHive, kSettings, "Service", c.provider);
        WriteRegistryDword(kHive, kSettings, "IPv6", c.ipv6Setting ? 1 : 0);
        learntIPv6 = c.learnt;
        echoAnswer = c.echo;
        providerAnswer = c.answer;
        requests.clear();
        ipv6Lookups = 0;
        RunCycle();
        EXPECT_EQ(requests,
                  *c.request ? std::vector<std::string>{c.request} : std::vector<std::string>{})
            << c.name;
        EXPECT_EQ(ReadRegistryString(kHive, kService, "IP6"), c.recordedIP6) << c.name;
        EXPECT_EQ(ipv6Lookups, c.ipv6Setting && c.provider != 1 && c.provider != 2 ? 1 : 0)
            << c.name;
        if (*c.request) {
            EXPECT_EQ(ReadRegistryString(kHive, kService, "IP"), c.echo) << c.name;
        }
    }
}

TEST_F(UpdateCycleTest, ThatNoIPv6AddressIsFoundIsToldOnce) {
    WriteRegistryDword(kHive, kSettings, "IPv6", 1);
    const auto toldNoIPv6 = [] {
        return test::CountLogEntries(test::TraceLogText(), "ThreadServiceMain",
                                     "No IPv6 address found, the IPv4 address is sent alone");
    };
    test::EnableTraceLog();
    for (const char* learnt : {"", "", "2001:db8::5", "", ""}) {
        learntIPv6 = learnt;
        RunCycle();
    }
    EXPECT_EQ(toldNoIPv6(), 2);
}

TEST_F(UpdateCycleTest, EachCycleSaysWhatItFoundAndTellsARecordedOutcomeOnce) {
    struct Case {
        std::string name;
        std::function<void()> setUp;
        CheckFinding finding;
        std::vector<std::string> told;
    };
    const std::vector<Case> cases = {
        {"filtered", [this] { networkAllowed = false; }, CheckFinding::Filtered, {}},
        {"no connectivity",
         [this] { failingConnectivityTests = 6; },
         CheckFinding::NoConnectivity,
         {}},
        {"no address", [this] { echoAnswer = "not an address"; }, CheckFinding::NoAddress, {}},
        {"unchanged",
         [this] { StoreLastUpdate(kNow - 3600, "203.0.113.5", "good 203.0.113.5"); },
         CheckFinding::Unchanged,
         {}},
        {"sent", [] {}, CheckFinding::Recorded, {"good 203.0.113.5"}},
        {"no answer", [this] { providerAnswer = ""; }, CheckFinding::Recorded, {"!noanswer"}},
    };
    for (const Case& c : cases) {
        networkAllowed = true;
        failingConnectivityTests = connectivityTests = 0;
        echoAnswer = "203.0.113.5";
        providerAnswer = "good 203.0.113.5";
        memory = {};
        told.clear();
        DeleteRegistryValue(kHive, kService, "Time");
        DeleteRegistryValue(kHive, kService, "IP");
        c.setUp();
        RunCycle();
        EXPECT_EQ(memory.finding, c.finding) << c.name;
        EXPECT_EQ(told, c.told) << c.name;
    }
}

TEST_F(UpdateCycleTest, NothingIsSentWhenNothingChangedAndNoLimitExpired) {
    StoreLastUpdate(kNow - 3600, "203.0.113.5", "good 203.0.113.5");
    EXPECT_EQ(RunCycle(), 600 + 50);
    EXPECT_TRUE(requests.empty());
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(ReadRegistryDword(kHive, kService, "Time"), kNow - 3600);
}

TEST_F(UpdateCycleTest, EachOfTheThreeReasonsSendsARequest) {
    // The address changed.
    StoreLastUpdate(kNow - 3600, "203.0.113.4", "good 203.0.113.4");
    RunCycle();
    EXPECT_EQ(requests.size(), 1u);
    EXPECT_EQ(ReadRegistryDword(kHive, kService, "Limit"), 0);

    // The settings were applied after the last update.
    WriteRegistryDword(kHive, kSettings, "Time", kNow + 10);
    RunCycle();
    EXPECT_EQ(requests.size(), 2u);

    // The week limit expired (strictly greater than the drawn limit); a fresh service run, so
    // that only the stored stamps count.
    memory = UpdateCycleMemory{};
    StoreLastUpdate(kNow - (604800 + 900), "203.0.113.5", "good 203.0.113.5");
    WriteRegistryDword(kHive, kSettings, "Time", 1);
    RunCycle();
    EXPECT_EQ(requests.size(), 2u);
    StoreLastUpdate(kNow - (604800 + 901), "203.0.113.5", "good 203.0.113.5");
    RunCycle();
    EXPECT_EQ(requests.size(), 3u);
    EXPECT_EQ(ReadRegistryDword(kHive, kService, "Limit"), 1);
}

TEST_F(UpdateCycleTest, TheOpenDnsLimitAppliesToOpenDnsOnly) {
    WriteRegistryDword(kHive, kSettings, "Time", 1);
    StoreLastUpdate(kNow - 10860, "203.0.113.5", "good 203.0.113.5");
    RunCycle();
    EXPECT_TRUE(requests.empty());
    // For OpenDNS the limit expires strictly after the drawn 9900 seconds.
    WriteRegistryDword(kHive, kSettings, "Service", 1);
    StoreLastUpdate(kNow - 9900, "203.0.113.5", "good 203.0.113.5");
    RunCycle();
    EXPECT_TRUE(requests.empty());
    StoreLastUpdate(kNow - 9901, "203.0.113.5", "good 203.0.113.5");
    RunCycle();
    EXPECT_EQ(requests.size(), 1u);
    EXPECT_EQ(ReadRegistryDword(kHive, kService, "Limit"), 1);
}

TEST_F(UpdateCycleTest, AnswersAreClassifiedAndTheRawAnswerIsKept) {
    providerAnswer = "GOOD 203.0.113.9";
    EXPECT_GT(RunCycle(), 0);
    EXPECT_EQ(ReadRegistryString(kHive, kService, "Result"), "GOOD 203.0.113.9");
    EXPECT_EQ(ReadRegistryString(kHive, kService, "IP"), "203.0.113.9");
    EXPECT_EQ(events.back().type, 4);

    providerAnswer = "nochg";
    WriteRegistryDword(kHive, kSettings, "Time", kNow + 1);
    EXPECT_GT(RunCycle(), 0);
    EXPECT_EQ(ReadRegistryString(kHive, kService, "IP"), "203.0.113.5");

    for (const char* warning : {"dnserr", "911"}) {
        providerAnswer = warning;
        WriteRegistryDword(kHive, kSettings, "Time", kNow + 2);
        EXPECT_EQ(RunCycle(), 1800 + 600) << warning;
        EXPECT_EQ(events.back().type, 2);
        EXPECT_EQ(events.back().id, 0x80000065u);
    }

    std::int64_t settingsTime = kNow + 3;
    for (const char* error : {"badauth", "nohost", "abuse", "!yours"}) {
        providerAnswer = error;
        WriteRegistryDword(kHive, kSettings, "Time", ++settingsTime);
        EXPECT_EQ(RunCycle(), -1) << error;
        EXPECT_EQ(events.back().type, 1);
        EXPECT_EQ(events.back().id, 0xC0000066u);
        EXPECT_EQ(ReadRegistryString(kHive, kService, "IP"), "203.0.113.5");
        EXPECT_EQ(ReadRegistryString(kHive, kService, "Result"), error);
    }
}

TEST_F(UpdateCycleTest, AnOutageLeavesTheAddressUnsentAndTheNextCycleSendsItAgain) {
    struct Case {
        const char* answer;
        int status;
        int eventType;
    };
    // No answer, a server error with a body, a page that is no answer of the protocol, and the
    // provider's own "try later" (also on a server error): none of them applied the update.
    for (const Case& outage : {Case{"", 0, 1}, Case{"nochg 203.0.113.5", 502, 1},
                               Case{"<html><body>Service Unavailable</body></html>", 503, 1},
                               Case{"<!DOCTYPE html>\n<title>Gateway</title>", 200, 1},
                               Case{"dnserr", 200, 2}, Case{"911", 500, 2}}) {
        StoreLastUpdate(kNow - 3600, "203.0.113.4", "good 203.0.113.4");
        requests.clear();
        events.clear();
        providerAnswer = outage.answer;
        answerStatus = outage.status;
        EXPECT_EQ(RunCycle(), 1800 + 600) << outage.answer;
        // What the provider was last told stays recorded; the attempt itself is shown.
        EXPECT_EQ(ReadRegistryDword(kHive, kService, "Time"), kNow - 3600);
        EXPECT_EQ(ReadRegistryString(kHive, kService, "IP"), "203.0.113.4");
        EXPECT_EQ(ReadRegistryString(kHive, kService, "Result"),
                  *outage.answer ? outage.answer : "good 203.0.113.4");
        EXPECT_EQ(ReadRegistryDword(kHive, kService, "EventType"), outage.eventType);
        EXPECT_EQ(ReadRegistryDword(kHive, kService, "AttemptTime"), kNow);
        EXPECT_EQ(ReadRegistryString(kHive, kService, "AttemptResult"),
                  *outage.answer ? outage.answer : "!noanswer");
        ASSERT_EQ(events.size(), 1u);
        EXPECT_EQ(events[0].text, outage.answer);

        providerAnswer = "good 203.0.113.5";
        answerStatus = 200;
        EXPECT_EQ(RunCycle(), 600 + 50);
        EXPECT_EQ(requests.size(), 2u) << outage.answer;
        EXPECT_EQ(ReadRegistryString(kHive, kService, "IP"), "203.0.113.5");
    }
}

TEST_F(UpdateCycleTest, OnlyAValidAddressOfTheFirstLineIsKept) {
    const struct {
        const char* answer;
        const char* ip;
    } cases[] = {
        {"good 203.0.113.9\ngood 203.0.113.9", "203.0.113.9"},
        {"good\nnochg 203.0.113.9", "203.0.113.5"},
        {"nochg 203.0.113.9\r\nnohost", "203.0.113.9"},
        {"good 203.0.113.999", "203.0.113.5"},
        {"good here", "203.0.113.5"},
    };
    std::int64_t settingsTime = kNow;
    for (const auto& c : cases) {
        providerAnswer = c.answer;
        WriteRegistryDword(kHive, kSettings, "Time", ++settingsTime);
        EXPECT_EQ(RunCycle(), 600 + 50) << c.answer;
        EXPECT_EQ(ReadRegistryString(kHive, kService, "IP"), c.ip) << c.answer;
        EXPECT_EQ(ReadRegistryString(kHive, kService, "Result"), c.answer);
    }
}

TEST_F(UpdateCycleTest, TimeStampsAfter2038StillCountForward) {
    // 0x80000000 and later read as negative numbers when taken as signed.
    constexpr std::int64_t k2038 = 0x80000100;
    WriteRegistryDword(kHive, kSettings, "Time", k2038 - 60);
    StoreLastUpdate(k2038, "203.0.113.5", "good 203.0.113.5");
    EXPECT_EQ(RunUpdateCycle({604800 + 900, 9000 + 900}, memory,
                             [&] {
                                 UpdateCycleEnvironment e = Environment();
                                 e.now = [] { return k2038 + 600; };
                                 return e;
                             }()),
              600 + 50);
    EXPECT_TRUE(requests.empty());
}

TEST_F(UpdateCycleTest, AHugeAnswerIsRecordedCutToAFewKilobytes) {
    providerAnswer = "<html>" + std::string(900000, 'x');
    EXPECT_EQ(RunCycle(), 1800 + 600);
    const std::string recorded = ReadRegistryString(kHive, kService, "Result");
    EXPECT_EQ(recorded.size(), kRecordedAnswerLimit);
    EXPECT_EQ(recorded, providerAnswer.substr(0, kRecordedAnswerLimit));
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].text, recorded);

    // A multi-byte character on the limit is not cut in two.
    providerAnswer = "good 203.0.113.5 " + std::string(kRecordedAnswerLimit - 18, 'x') + "\xC3\xA9";
    WriteRegistryDword(kHive, kSettings, "Time", kNow + 10);
    RunCycle();
    EXPECT_EQ(events.back().text.size(), kRecordedAnswerLimit - 1);
}

TEST_F(UpdateCycleTest, AnUnwritableStoreDoesNotTurnEveryWakeUpIntoARequest) {
    // A folder where a value file belongs: replacing it fails, whoever runs the test.
    const std::string key =
        root_.Path() +
        "/var/lib/quarnel-updater/registry/HKEY_LOCAL_MACHINE/SOFTWARE/Quarnel Updater/Service";
    for (const char* value : {"/Time.value", "/IP.value"}) {
        ASSERT_TRUE(std::filesystem::create_directories(key + value + "/blocked"));
    }
    RunCycle();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(ReadRegistryString(kHive, kService, "IP"), "");
    RunCycle();
    RunCycle();
    EXPECT_EQ(requests.size(), 1u);
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].first, kNoticeError);
    EXPECT_NE(notices[0].second.find("cannot be written"), std::string::npos) << notices[0].second;

    // Once the store takes values again, the next cycle writes the outcome it missed.
    for (const char* value : {"/Time.value", "/IP.value"}) {
        std::filesystem::remove_all(key + value);
    }
    RunCycle();
    EXPECT_EQ(requests.size(), 1u);
    EXPECT_EQ(ReadRegistryString(kHive, kService, "IP"), "203.0.113.5");
    EXPECT_EQ(ReadRegistryDword(kHive, kService, "Time"), kNow);
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_EQ(notices[1].first, kNoticeInformation);
}

TEST_F(UpdateCycleTest, AStampAheadOfTheClockCountsAsLongAgo) {
    struct Case {
        std::int64_t serviceTime;
        std::int64_t settingsTime;
    };
    // The last update ahead of the clock must neither hide newer settings nor hold the limits
    // back; settings ahead of it are sent once, not on every cycle.
    for (const Case& c : {Case{kNow + 86400, kNow - 7200}, Case{kNow + 86400, kNow - 60},
                          Case{kNow - 60, kNow + 86400}}) {
        memory = UpdateCycleMemory{};
        requests.clear();
        StoreLastUpdate(c.serviceTime, "203.0.113.5", "good 203.0.113.5");
        WriteRegistryDword(kHive, kSettings, "Time", c.settingsTime);
        for (int cycle = 0; cycle < 3; ++cycle) {
            EXPECT_EQ(RunCycle(), 600 + 50);
        }
        EXPECT_EQ(requests.size(), 1u) << c.serviceTime << " " << c.settingsTime;
        EXPECT_EQ(ReadRegistryDword(kHive, kService, "Time"), kNow);
    }
}

TEST_F(UpdateCycleTest, NoTimerRunsPastTheNextTimeLimit) {
    struct Case {
        std::int64_t provider;
        std::int64_t interval;
        std::int64_t lastUpdate;  // 0: none stored, the cycle sends one
        std::int64_t timeout;
    };
    const Case cases[] = {
        // Seven days' interval: the regular 655200 s would stretch the week limit of 605700 s.
        {0, 10080, 0, 605700 + 1},
        // OpenDNS's limit of 9900 s, an hour after the last update.
        {1, 240, kNow - 3600, 9900 + 1 - 3600},
        {1, 240, 0, 9900 + 1},
        {0, 60, kNow - 3600, 3600 + 300},
    };
    for (const Case& c : cases) {
        memory = UpdateCycleMemory{};
        WriteRegistryDword(kHive, kSettings, "Service", c.provider);
        WriteRegistryDword(kHive, kSettings, "Interval", c.interval);
        StoreLastUpdate(c.lastUpdate, c.lastUpdate ? "203.0.113.5" : "", "good 203.0.113.5");
        const std::int64_t timeout = RunCycle();
        EXPECT_EQ(timeout, c.timeout) << c.provider << " " << c.interval;
        if (c.interval == 10080) {
            std::cout << "timer armed after an update with Interval=10080: " << timeout
                      << " s (week limit 605700 s)" << std::endl;
        }
    }
}

TEST_F(UpdateCycleTest, AStopEndsTheCycleAtItsNextStepRecordingNothing) {
    bool stop = false;
    auto environment = [&] {
        UpdateCycleEnvironment e = Environment();
        e.stopping = [&stop] { return stop; };
        e.testConnectivity = [&] {
            ++connectivityTests;
            stop = connectivityTests == 2;
            return false;
        };
        return e;
    };
    EXPECT_EQ(RunUpdateCycle({604800, 9000}, memory, environment()), 0);
    EXPECT_EQ(connectivityTests, 2);

    stop = false;
    UpdateCycleEnvironment e = Environment();
    e.stopping = [&stop] { return stop; };
    e.sendUpdateRequest = [&](const std::string& ip) {
        requests.push_back(ip);
        stop = true;
        return std::string();
    };
    EXPECT_EQ(RunUpdateCycle({604800, 9000}, memory, e), 0);
    EXPECT_EQ(requests.size(), 1u);
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(ReadRegistryDword(kHive, kService, "EventID"), 0);

    // The stop ends the exchange before the service's own stop signal is set.
    stop = false;
    e.sendUpdateRequest = [&](const std::string& ip) {
        requests.push_back(ip);
        StopNetworkExchanges();
        return std::string();
    };
    EXPECT_EQ(RunUpdateCycle({604800, 9000}, memory, e), 0);
    AllowNetworkExchanges();
    EXPECT_EQ(requests.size(), 2u);
    EXPECT_TRUE(events.empty());
    EXPECT_TRUE(notices.empty());
    EXPECT_EQ(ReadRegistryDword(kHive, kService, "EventID"), 0);
}

TEST_F(UpdateCycleTest, WithoutUserNameNothingIsSentAndNoauthIsRecorded) {
    DeleteRegistryValue(kHive, kSettings, "Username");
    EXPECT_EQ(RunCycle(), -1);
    EXPECT_TRUE(requests.empty());
    EXPECT_EQ(ReadRegistryString(kHive, kService, "Result"), "!noauth");
    EXPECT_EQ(ReadRegistryString(kHive, kService, "AttemptResult"), "!noauth");
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].text, "!noauth");
    EXPECT_EQ(events[0].type, 1);
}

TEST_F(UpdateCycleTest, FilterAndConnectivityAndAddressFailuresEndTheCycleEarly) {
    networkAllowed = false;
    EXPECT_EQ(RunCycle(), 600 + 50);
    EXPECT_EQ(connectivityTests, 0);

    networkAllowed = true;
    failingConnectivityTests = 100;
    EXPECT_EQ(RunCycle(), 30 + 20);
    EXPECT_EQ(connectivityTests, 6);
    EXPECT_EQ(pauses, (std::vector<std::int64_t>{0, 500, 1000, 1500, 2000, 2500}));

    failingConnectivityTests = 0;
    pauses.clear();
    for (const char* bad : {"", "203.0.113.5\n", "not an address", "010.1.1.1"}) {
        connectivityTests = 0;
        echoAnswer = bad;
        EXPECT_EQ(RunCycle(), 30 + 20) << bad;
    }
    EXPECT_TRUE(pauses.empty());
    EXPECT_TRUE(requests.empty());
    EXPECT_TRUE(events.empty());
}

TEST_F(UpdateCycleTest, AMissingOrNonPositiveIntervalCountsAsFiveMinutes) {
    for (const std::int64_t stored : {std::int64_t{0}, std::int64_t{-10}}) {
        WriteRegistryDword(kHive, kSettings, "Interval", stored);
        randomArguments.clear();
        EXPECT_EQ(RunCycle(), 300 + 25);
        EXPECT_EQ(randomArguments, std::vector<std::int64_t>{75});
    }
    DeleteRegistryValue(kHive, kSettings, "Interval");
    networkAllowed = false;
    EXPECT_EQ(RunCycle(), 300 + 25);
}

TEST_F(UpdateCycleTest, SettingsAppliedInTheSecondOfARequestAreStillSent) {
    // The request of the first cycle is stamped kNow; settings applied right after it, in the
    // same second, carry the same stamp.
    RunCycle();
    ASSERT_EQ(requests.size(), 1u);
    WriteRegistryDword(kHive, kSettings, "Time", kNow);
    RunCycle();
    EXPECT_EQ(requests.size(), 2u);
    // Nothing changed since: no further request.
    RunCycle();
    EXPECT_EQ(requests.size(), 2u);

    // A service started afresh knows only the stamps: equal stamps are not newer.
    UpdateCycleMemory fresh;
    memory = fresh;
    WriteRegistryDword(kHive, kSettings, "Time", kNow - 5);
    WriteRegistryDword(kHive, kService, "Time", kNow - 5);
    RunCycle();
    EXPECT_EQ(requests.size(), 2u);
}

TEST_F(UpdateCycleTest, AnAdministratorIsToldOncePerChangeOfCondition) {
    failingConnectivityTests = 1000;
    for (int retry = 0; retry < 3; ++retry) {
        RunCycle();
    }
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].first, kNoticeWarning);
    EXPECT_NE(notices[0].second.find("probe.example"), std::string::npos) << notices[0].second;

    failingConnectivityTests = 0;
    providerAnswer = "";
    RunCycle();
    RunCycle();
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_NE(notices[1].second.find("No answer"), std::string::npos) << notices[1].second;

    providerAnswer = "good 203.0.113.5";
    RunCycle();
    RunCycle();
    ASSERT_EQ(notices.size(), 3u);
    EXPECT_EQ(notices[2].first, kNoticeInformation);

    providerAnswer = "badauth";
    WriteRegistryDword(kHive, kSettings, "Time", kNow + 10);
    RunCycle();
    ASSERT_EQ(notices.size(), 4u);
    EXPECT_EQ(notices[3].first, kNoticeError);
    EXPECT_NE(notices[3].second.find("badauth"), std::string::npos) << notices[3].second;
}

}  // namespace
}  // namespace quarnel
