#pragma once

// What the tray makes of one result the service recorded: which balloon, which icon and which
// history line. Qt-free, so that it is tested without a display and the windows stay thin.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "diagnostics/event_log.h"

namespace quarnel {

// Image slots of the tray process: the status pictures (0..4) and the tray icon set (5..8).
enum ImageSlot : int {
    SlotAccept = 0,
    SlotAdd = 1,
    SlotError = 2,
    SlotExclamation = 3,
    SlotInformation = 4,
    SlotTrayNormal = 5,
    SlotTrayInformation = 6,
    SlotTrayWarning = 7,
    SlotTrayError = 8,
};

enum class BalloonKind { Information = 1, Warning = 2, Error = 3 };

// The classification of a result by its event id: information (0x40000064), warning
// (0x80000065), error (0xC0000066 and every other id).
struct ResultClass {
    BalloonKind kind = BalloonKind::Error;
    int traySlot = SlotTrayError;
    int titleTextId = 107;
    int historySlot = SlotExclamation;
};
ResultClass ClassifyEventId(std::uint32_t eventId);

// The service's last attempt as the desktop reads it from the state key (missing values read as
// 0 or the empty text). Time and Result mean the last request the provider answered; what is
// shown for each attempt comes from AttemptTime and AttemptResult, and only a store of an older
// build, which has no AttemptTime, is described by Time and Result instead.
struct ServiceResult {
    std::int64_t time = 0;  // when the attempt was made
    std::int64_t limit = 0;
    std::string result;  // its answer as recorded; "!noanswer" when none came back
    std::uint32_t eventId = 0;
};
ServiceResult ReadServiceResult();

// What tells one attempt from the next: its time, event id and answer.
struct AttemptIdentity {
    std::int64_t time = 0;
    std::uint32_t eventId = 0;
    std::string result;
    bool operator==(const AttemptIdentity&) const = default;
};
AttemptIdentity IdentityOf(const ServiceResult& result);

// One result turned into what the tray shows.
struct ResultNotice {
    bool showBalloon = false;  // false while Limit is set
    std::uint32_t eventId = 0;
    // Lower-cased; "!noanswer", "!empty" or "!unknown" when no message of a return code fits.
    std::string code;
    std::string parameter;  // the message's %1
    std::string historyLine;
    // The history image; an id outside the three known ones keeps the previous result's image.
    int historySlot = SlotAccept;
};
// previousHistorySlot: the image of the last live history line (slot 0 before the first).
ResultNotice MakeResultNotice(const ServiceResult& result, int previousHistorySlot);

// The balloon's message for a notice's code and parameter: the return code's message, or for
// "!noanswer" the text that nothing reached the provider.
std::string ResultMessage(std::string_view code, std::string_view parameter);
// An answer as a status or history line shows it: cleaned and cut, "!noanswer" in words.
std::string ShownResult(std::string_view result);
// A history line of the event log ("[stamp] " and the recorded answer) as the list shows it: an
// answer that is empty or "!noanswer" (nothing came back) in words.
std::string ShownHistoryLine(std::string_view line);

// The history window's filler: the history lines of the program's records in the "Application"
// log as the list shows them (ShownHistoryLine), newest first.
std::vector<HistoryEntry> FillHistoryFromEventLog();

// A text from the store or a provider made fit to show: control characters (C0, DEL, C1) become
// blanks, invalid UTF-8 is replaced, and it is cut to at most maxCharacters code points (an
// ellipsis marks the cut).
std::string CleanDisplayText(std::string_view text, std::size_t maxCharacters);

// The longest text a balloon, a history line or a label shows.
inline constexpr std::size_t kMaximumShownText = 200;

}  // namespace quarnel
