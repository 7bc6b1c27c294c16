#include "ui/result_notice.h"

#include "ddns/update_result.h"
#include "diagnostics/event_log.h"
#include "platform/clock.h"
#include "platform/registry_store.h"
#include "platform/text.h"
#include "settings/registry.h"
#include "settings/schema.h"

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
    values.time = ReadRegistryDword(hive, kServiceKey, kValueTime) & 0xFFFFFFFF;
    values.limit = ReadRegistryDword(hive, kServiceKey, kValueLimit);
    values.result = ReadRegistryString(hive, kServiceKey, kValueResult);
    values.eventId =
        static_cast<std::uint32_t>(ReadRegistryDword(hive, kServiceKey, kValueEventId));
    return values;
}

ResultNotice MakeResultNotice(const ServiceResult& result, int previousHistorySlot) {
    ResultNotice notice;
    notice.eventId = result.eventId;
    notice.showBalloon = result.limit == 0;

    // Code and parameter are the first two blank-separated fields.
    const std::string shown = CleanDisplayText(result.result, kMaximumShownText);
    const UpdateResult fields = SplitUpdateResult(result.result, "");
    const std::string& code = fields.code;
    const std::string parameter = ResultAddresses(fields);
    if (!GetResultMessage(code, "").empty()) {
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
