#pragma once

// What the tray makes of one result the service recorded: which balloon, which icon and which
// history line. Qt-free, so that it is tested without a display and the windows stay thin.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

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

// The values of the service's state key as the tray reads them (missing values read as 0 or
// the empty text).
struct ServiceResult {
    std::int64_t time = 0;
    std::int64_t limit = 0;
    std::string result;
    std::uint32_t eventId = 0;
};
ServiceResult ReadServiceResult();

// One result turned into what the tray shows.
struct ResultNotice {
    bool showBalloon = false;  // false while Limit is set
    std::uint32_t eventId = 0;
    std::string code;       // lower-cased; "!empty" or "!unknown" when no message fits
    std::string parameter;  // the message's %1
    std::string historyLine;
    // The history image; an id outside the three known ones keeps the previous result's image.
    int historySlot = SlotAccept;
};
// previousHistorySlot: the image of the last live history line (slot 0 before the first).
ResultNotice MakeResultNotice(const ServiceResult& result, int previousHistorySlot);

// A text from the store or a provider made fit to show: control characters (C0, DEL, C1) become
// blanks, invalid UTF-8 is replaced, and it is cut to at most maxCharacters code points (an
// ellipsis marks the cut).
std::string CleanDisplayText(std::string_view text, std::size_t maxCharacters);

// The longest text a balloon, a history line or a label shows.
inline constexpr std::size_t kMaximumShownText = 200;

}  // namespace quarnel
