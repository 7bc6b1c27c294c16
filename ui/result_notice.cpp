#include "ui/result_notice.h"

#include "ddns/last_attempt.h"
#include "ddns/update_result.h"
#include "diagnostics/event_log.h"
#include "platform/clock.h"
#include "platform/product.h"
#include "platform/registry_store.h"
#include "platform/text.h"
#include "settings/registry.h"
#include "settings/schema.h"
#include "ui/desktop_texts.h"

namespace quarnel {

ResultClass ClassifyEventId(std::uint32_t eventId) {
    if (eventId == kEventRecordIdInformation) {
        return {BalloonKind::Information, SlotTrayInformation, 105, SlotAccept};
    }
    if (eventId == kEventRecordIdWarning) {
        return {BalloonKind::Warning, SlotTrayWarning, 106, SlotError};
    }
    return {BalloonKind::Error, SlotTrayError, 107, SlotExclamation};
}

ServiceResult ReadServiceResult() {
    constexpr RegistryHive hive = RegistryHive::LocalMachine;
    ServiceResult values;
    // The same reading of the attempt as /status, so that the two never disagree.
    const LastAttempt attempt = ReadLastAttempt();
    values.time = attempt.time;
    values.result = attempt.answer;
    values.limit = ReadRegistryDword(hive, kServiceKey, kValueLimit);
    values.eventId =
        static_cast<std::uint32_t>(ReadRegistryDword(hive, kServiceKey, kValueEventId));
    return values;
}

AttemptIdentity IdentityOf(const ServiceResult& result) {
    return {result.time, result.eventId, result.result};
}

ResultNotice MakeResultNotice(const ServiceResult& result, int previousHistorySlot) {
    ResultNotice notice;
    notice.eventId = result.eventId;
    notice.showBalloon = result.limit == 0;

    // Code and parameter are the first two blank-separated fields.
    const std::string shown = ShownResult(result.result);
    const UpdateResult fields = SplitUpdateResult(result.result, "");
    const std::string& code = fields.code;
    const std::string parameter = ResultAddresses(fields);
    if (result.result == kNoAnswerMarker) {
        notice.code = kNoAnswerMarker;
    } else if (!GetResultMessage(code, "").empty()) {
        notice.code = code;
        notice.parameter = CleanDisplayText(parameter, kMaximumShownText);
    } else if (result.result.empty()) {
        notice.code = "!empty";
    } else {
        notice.code = "!unknown";
        notice.parameter = shown;
    }

    notice.historyLine = FormatClock("[%yyyy-%mm-%dd %hh:%ii:%ss] ", result.time) + shown;
    if (result.eventId == kEventRecordIdInformation || result.eventId == kEventRecordIdWarning ||
        result.eventId == kEventRecordIdError) {
        notice.historySlot = ClassifyEventId(result.eventId).historySlot;
    } else {
        notice.historySlot = previousHistorySlot;
    }
    return notice;
}

std::string ResultMessage(std::string_view code, std::string_view parameter) {
    return GetResultMessage(code, parameter);
}

std::string ShownResult(std::string_view result) {
    if (result == kNoAnswerMarker) {
        return GetDesktopText(DesktopText::NoAnswerShort);
    }
    return CleanDisplayText(result, kMaximumShownText);
}

std::string ShownHistoryLine(std::string_view line) {
    // "[yyyy-mm-dd hh:mm:ss] ", then the answer.
    constexpr std::size_t kStampLength = 22;
    if (line.size() < kStampLength || line.substr(kStampLength - 2, 2) != "] ") {
        return CleanDisplayText(line, kMaximumShownText);
    }
    const std::string_view answer = line.substr(kStampLength);
    const std::string stamp(line.substr(0, kStampLength));
    if (answer.empty()) {
        return stamp + GetDesktopText(DesktopText::NoAnswerShort);
    }
    return stamp + ShownResult(answer);
}

std::vector<HistoryEntry> FillHistoryFromEventLog() {
    // A damaged log gives the records that can be read; an unreadable one gives none.
    std::vector<HistoryEntry> entries = ReadEventLogHistory("Application", ServiceName);
    for (HistoryEntry& entry : entries) {
        entry.line = ShownHistoryLine(entry.line);
    }
    return entries;
}

std::string CleanDisplayText(std::string_view text, std::size_t maxCharacters) {
    // Through UTF-16 and back: invalid sequences become U+FFFD on the way.
    const std::u16string units = Utf8ToUtf16(text);
    std::u16string cleaned;
    std::size_t characters = 0;
    for (std::size_t i = 0; i < units.size(); ++i) {
        if (characters == maxCharacters) {
            cleaned += u'\u2026';
            break;
        }
        char16_t unit = units[i];
        if (unit < 0x20 || (unit >= 0x7F && unit < 0xA0)) {
            unit = u' ';
        }
        cleaned += unit;
        // A surrogate pair is one character.
        if (unit >= 0xD800 && unit < 0xDC00 && i + 1 < units.size()) {
            cleaned += units[++i];
        }
        ++characters;
    }
    return Utf16ToUtf8(cleaned);
}

}  // namespace quarnel
