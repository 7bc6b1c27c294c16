#pragma once

// What the desktop's windows do, decided without a toolkit, so that the Qt windows on Linux and
// the Win32 windows on Windows only show it: the tray menu, the balloon of a result or of an
// update offer, the tray's first step at start, the tray icon once balloons are gone, and what
// each window makes of an instance code.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "ui/result_notice.h"
#include "update/software_update.h"

namespace quarnel {

// Command ids of the tray's popup menu entries.
enum MenuEntry : int {
    EntrySettings = 1,
    EntryHistory = 2,
    EntryDiagnose = 3,
    EntryRouter = 4,
    EntryQuit = 5,
};

// The popup menu in its order; id 0 is a separator. The first entry is the default one.
struct TrayMenuItem {
    int id;
    int textId;
};
inline constexpr TrayMenuItem kTrayMenu[] = {
    {EntrySettings, 125}, {0, 0}, {EntryHistory, 126}, {EntryDiagnose, 152},
    {EntryRouter, 127},   {0, 0}, {EntryQuit, 128}};

// A balloon's fields hold at most this many characters.
inline constexpr std::size_t kBalloonTextLength = 256;
inline constexpr std::size_t kBalloonTitleLength = 64;
inline constexpr int kBalloonTimeoutSeconds = 30;

// One balloon as the shell is asked for it, with the tray icon it shows meanwhile.
struct TrayBalloon {
    int traySlot = SlotTrayNormal;
    std::string title;    // cut to kBalloonTitleLength
    std::string message;  // cut to kBalloonTextLength
    int timeoutSeconds = kBalloonTimeoutSeconds;
    BalloonKind kind = BalloonKind::Information;
};

// The balloon of a result: the kind, title and tray icon of its event id, the message of its
// code (MakeResultNotice) with the parameter filled in.
TrayBalloon ResultBalloon(std::uint32_t eventId, std::string_view code, std::string_view parameter);
// The update process's offer of a published version.
TrayBalloon UpdateOfferBalloon(std::string_view version);

// The tray icon's slot once a balloon has gone: normal when none is left, else as it is.
int TraySlotAfterBalloon(std::int64_t pendingBalloons, int currentSlot);

// The tray's first step: without a user name the settings (nothing can be updated yet),
// otherwise an administrator's tray looks for a new version of the program.
enum class TrayStartStep { OpenSettings, CheckForUpdate, Nothing };
TrayStartStep ChooseTrayStartStep(bool userNameEmpty, bool administrator);
// The same for the stored user name and the current user.
TrayStartStep ReadTrayStartStep();
// Takes that step for the stored user name and the current user: opens the settings or starts
// the software update check, logging what fails.
void TakeTrayStartStep();

// What a window does with an instance code.
enum class WindowAction { None, OpenSettings, Show, Close, CheckChannel };
// The tray: 0 opens the settings, 1 closes the tray.
WindowAction TrayInstanceAction(std::int32_t code);
// The settings window: 1 closes it without applying, 2 brings it to the front.
WindowAction SettingsInstanceAction(std::int32_t code);
// The update window: 1 closes it (cancelling), 3 checks the stored channel again.
WindowAction UpdateInstanceAction(std::int32_t code);

// The update window's progress bar while the installer arrives: a share of 100, or moving when
// the size is unknown and while the signature is checked (the whole file is there).
struct DownloadProgressShown {
    int percent = 0;
    bool moving = false;
    bool checkingSignature = false;  // the status line says so (text 35209)
};
DownloadProgressShown ShowDownloadProgress(std::uint64_t received, std::uint64_t total);

// The update window once a download has ended: the status text, the bar, whether Install is
// offered again for a retry and whether the window closes (the installer runs). A cancelled
// download changes nothing (the window is closing).
struct DownloadEndShown {
    bool changesWindow = true;
    int statusTextId = 0;
    int percent = 0;
    bool installEnabled = false;
    bool closeWindow = false;
};
DownloadEndShown ShowDownloadEnd(DownloadOutcome outcome);

}  // namespace quarnel
