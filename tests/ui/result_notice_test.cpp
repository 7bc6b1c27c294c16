#include "ui/result_notice.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>

#include "ddns/update_result.h"
#include "diagnostics/event_log.h"
#include "settings/registry.h"
#include "settings/schema.h"
#include "tests/support/test_support.h"
#include "ui/desktop_texts.h"
#include "ui/settings_form.h"

namespace quarnel {
namespace {

struct NoticeCase {
    const char* name;
    const char* result;
    std::uint32_t eventId;
    std::int64_t limit;
    int previousSlot;
    bool balloon;
    const char* code;
    const char* parameter;
    int historySlot;
};

const NoticeCase kNoticeCases[] = {
    {"Good", "good 203.0.113.5", kEventRecordIdInformation, 0, 3, true, "good", "203.0.113.5", 0},
    {"UpperCaseCode", "GOOD 203.0.113.5", kEventRecordIdInformation, 0, 0, true, "good",
     "203.0.113.5", 0},
    {"Warning", "nohost 203.0.113.5", kEventRecordIdWarning, 0, 0, true, "nohost", "203.0.113.5",
     2},
    {"UnknownCode", "xyz", kEventRecordIdError, 0, 0, true, "!unknown", "xyz", 3},
    {"Empty", "", kEventRecordIdError, 0, 0, true, "!empty", "", 3},
    {"LimitShowsNoBalloon", "nochg 203.0.113.5", kEventRecordIdInformation, 1, 0, false, "nochg",
     "203.0.113.5", 0},
    {"DualAnswerNamesBoth", "good 203.0.113.5,2001:db8::5", kEventRecordIdInformation, 0, 0, true,
     "good", "203.0.113.5, 2001:db8::5", 0},
    {"OtherIdKeepsPreviousImage", "good 203.0.113.5", 0x1234, 0, 2, true, "good", "203.0.113.5", 2},
    {"ControlCharactersRemoved", "bad\x01\x1b[2Jvalue", kEventRecordIdError, 0, 0, true, "!unknown",
     "bad  [2Jvalue", 3},
    {"NoAnswer", "!noanswer", kEventRecordIdError, 0, 0, true, "!noanswer", "", 3},
};

// Test names and failure messages show the case by its name.
void PrintTo(const NoticeCase& c, std::ostream* out) {
    *out << c.name;
}

class ResultNoticeTest : public testing::TestWithParam<NoticeCase> {};

TEST_P(ResultNoticeTest, ChoosesBalloonMessageAndHistoryImage) {
    const NoticeCase& c = GetParam();
    ServiceResult result;
    result.time = 1'700'000'000;
    result.limit = c.limit;
    result.result = c.result;
    result.eventId = c.eventId;
    const ResultNotice notice = MakeResultNotice(result, c.previousSlot);
    EXPECT_EQ(notice.showBalloon, c.balloon);
    EXPECT_EQ(notice.code, c.code);
    EXPECT_EQ(notice.parameter, c.parameter);
    EXPECT_EQ(notice.historySlot, c.historySlot);
    EXPECT_EQ(notice.historyLine.substr(0, 22), "[2023-11-14 22:13:20] ");
}

INSTANTIATE_TEST_SUITE_P(Results, ResultNoticeTest, testing::ValuesIn(kNoticeCases),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(ResultNotice, ClassificationByEventId) {
    EXPECT_EQ(ClassifyEventId(kEventRecordIdInformation).traySlot, SlotTrayInformation);
    EXPECT_EQ(ClassifyEventId(kEventRecordIdWarning).titleTextId, 106);
    EXPECT_EQ(ClassifyEventId(kEventRecordIdError).kind, BalloonKind::Error);
    EXPECT_EQ(ClassifyEventId(0).traySlot, SlotTrayError);
}

TEST(ResultNotice, HugeProviderResultIsCutForShowing) {
    ServiceResult result;
    result.result = std::string(100'000, 'x');
    result.eventId = kEventRecordIdError;
    const ResultNotice notice = MakeResultNotice(result, 0);
    EXPECT_EQ(notice.code, "!unknown");
    // 200 characters and the ellipsis (three bytes).
    EXPECT_EQ(notice.parameter.size(), kMaximumShownText + 3);
    EXPECT_EQ(CleanDisplayText("\xC3\xA4\xF0\x9F\x98\x80z", 2),
              "\xC3\xA4\xF0\x9F\x98\x80\xE2\x80\xA6");
    EXPECT_EQ(CleanDisplayText("a\xFF"
                               "b",
                               10),
              "a\xEF\xBF\xBD"
              "b");
}

// What the desktop shows for the service's last attempt, read from the store as the service
// leaves it: Time and Result keep the last answered request, AttemptTime and AttemptResult say
// what the attempt itself gave; a store of an older build has only the former.
struct AttemptCase {
    const char* name;
    const char* attemptResult;  // null: a store without the attempt values
    std::uint32_t eventId;
    std::string balloon;      // the balloon's message
    std::string shownResult;  // in the history line and the settings' last result line
};

TEST(ResultNotice, EachAttemptIsShownWithItsOwnTimeAndAnswer) {
    constexpr std::int64_t kAnswered = 1'700'000'000;  // 2023-11-14 22:13:20
    constexpr std::int64_t kAttempt = 1'700'003'600;   // an hour later
    const std::string page = "<html><body>502 Bad Gateway</body></html>";
    const AttemptCase cases[] = {
        {"NoAnswerAfterGood", "!noanswer", kEventRecordIdError, GetResultMessage("!noanswer", ""),
         GetDesktopText(DesktopText::NoAnswerShort)},
        {"ErrorPage", page.c_str(), kEventRecordIdError, GetResultMessage("!unknown", page), page},
        {"Dnserr", "dnserr", kEventRecordIdWarning, GetResultMessage("dnserr", ""), "dnserr"},
        {"OlderStore", nullptr, kEventRecordIdInformation, GetResultMessage("good", "203.0.113.40"),
         "good 203.0.113.40"},
    };
    for (const AttemptCase& c : cases) {
        SCOPED_TRACE(c.name);
        const test::TemporaryFolder root;
        const test::ScopedEnvironment environment("QUARNEL_ROOT", root.Path());
        constexpr RegistryHive kHive = RegistryHive::LocalMachine;
        ASSERT_EQ(CreateRegistryKey(kHive, kServiceKey), 1);
        WriteRegistryDword(kHive, kServiceKey, kValueTime, kAnswered);
        WriteRegistryString(kHive, kServiceKey, kValueResult, "good 203.0.113.40");
        if (c.attemptResult != nullptr) {
            WriteRegistryDword(kHive, kServiceKey, kValueAttemptTime, kAttempt);
            WriteRegistryString(kHive, kServiceKey, kValueAttemptResult, c.attemptResult);
        }
        WriteRegistryDword(kHive, kServiceKey, kValueEventId, c.eventId);

        const ServiceResult result = ReadServiceResult();
        const std::int64_t time = c.attemptResult != nullptr ? kAttempt : kAnswered;
        EXPECT_EQ(result.time, time);
        const ResultNotice notice = MakeResultNotice(result, SlotAccept);
        EXPECT_EQ(ResultMessage(notice.code, notice.parameter), c.balloon);
        EXPECT_EQ(notice.historyLine, (c.attemptResult != nullptr ? "[2023-11-14 23:13:20] "
                                                                  : "[2023-11-14 22:13:20] ") +
                                          c.shownResult);
        EXPECT_EQ(LastResultLine(result.time, result.result), "Last Result: " + c.shownResult);
    }
    // The history read from the event log says the same of an attempt without an answer.
    EXPECT_EQ(ShownHistoryLine("[2023-11-14 23:13:20] "),
              "[2023-11-14 23:13:20] " + GetDesktopText(DesktopText::NoAnswerShort));
    EXPECT_EQ(ShownHistoryLine("[2023-11-14 23:13:20] good 1.2.3.4"),
              "[2023-11-14 23:13:20] good 1.2.3.4");
}

}  // namespace
}  // namespace quarnel
