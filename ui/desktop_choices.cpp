#include "ui/desktop_choices.h"

#include "diagnostics/log.h"
#include "platform/child_process.h"
#include "platform/elevation.h"
#include "platform/process.h"
#include "resources/texts.h"
#include "settings/registry.h"
#include "settings/schema.h"
#include "startup/instance.h"
#include "startup/settings_launch.h"

namespace quarnel {

TrayBalloon ResultBalloon(std::uint32_t eventId, std::string_view code,
                          std::string_view parameter) {
    const ResultClass kind = ClassifyEventId(eventId);
    TrayBalloon balloon;
    balloon.traySlot = kind.traySlot;
    balloon.kind = kind.kind;
    balloon.title = CleanDisplayText(LoadResourceText(kind.titleTextId), kBalloonTitleLength);
    balloon.message = CleanDisplayText(ResultMessage(code, parameter), kBalloonTextLength);
    return balloon;
}

TrayBalloon UpdateOfferBalloon(std::string_view version) {
    TrayBalloon balloon;
    balloon.title = CleanDisplayText(LoadResourceText(100), kBalloonTitleLength);
    // The version is the maker's page's text: cleaned and cut as any outside text.
    balloon.message = CleanDisplayText(GetLocalizedText(35206, version), kMaximumShownText);
    return balloon;
}

int TraySlotAfterBalloon(std::int64_t pendingBalloons, int currentSlot) {
    return pendingBalloons == 0 ? SlotTrayNormal : currentSlot;
}

TrayStartStep ChooseTrayStartStep(bool userNameEmpty, bool administrator) {
    if (userNameEmpty) {
        return TrayStartStep::OpenSettings;
    }
    return administrator ? TrayStartStep::CheckForUpdate : TrayStartStep::Nothing;
}

TrayStartStep ReadTrayStartStep() {
    const bool noUser =
        ReadRegistryString(RegistryHive::LocalMachine, kSettingsKey, kValueUsername).empty();
    return ChooseTrayStartStep(noUser, !noUser && IsCurrentUserAdmin() == 1);
}

void TakeTrayStartStep() {
    switch (ReadTrayStartStep()) {
        case TrayStartStep::OpenSettings:
            QLOG(kLogInfo, "RunSystrayProcess", "No user name configured; opening the settings");
            LaunchSettings();
            break;
        case TrayStartStep::CheckForUpdate:
            if (!StartDetachedProgram({GetProgramPath(), "/update"})) {
                QLOG(kLogError, "RunSystrayProcess", "Unable to start the software update check");
            }
            break;
        case TrayStartStep::Nothing:
            break;
    }
}

DownloadProgressShown ShowDownloadProgress(std::uint64_t received, std::uint64_t total) {
    DownloadProgressShown shown;
    if (total == 0) {
        shown.moving = true;
        return shown;
    }
    const std::uint64_t done = received < total ? received : total;
    shown.percent = static_cast<int>(done * 100 / total);
    shown.checkingSignature = received >= total;
    shown.moving = shown.checkingSignature;
    return shown;
}

DownloadEndShown ShowDownloadEnd(DownloadOutcome outcome) {
    DownloadEndShown shown;
    switch (outcome) {
        case DownloadOutcome::Installing:
            shown.statusTextId = 35210;
            shown.percent = 100;
            shown.closeWindow = true;
            break;
        case DownloadOutcome::Cancelled:
            shown.changesWindow = false;
            break;
        default:
            // Unlike the silent original, the reason is shown, in the user's language; Install
            // is there again for a retry.
            shown.statusTextId = DownloadOutcomeTextId(outcome);
            shown.installEnabled = true;
            break;
    }
    return shown;
}

WindowAction TrayInstanceAction(std::int32_t code) {
    switch (code) {
        case InstanceCodeOpenSettings:
            return WindowAction::OpenSettings;
        case InstanceCodeQuit:
            return WindowAction::Close;
        default:
            return WindowAction::None;
    }
}

WindowAction SettingsInstanceAction(std::int32_t code) {
    switch (code) {
        case InstanceCodeQuit:
            return WindowAction::Close;
        case InstanceCodeShow:
            return WindowAction::Show;
        default:
            return WindowAction::None;
    }
}

WindowAction UpdateInstanceAction(std::int32_t code) {
    switch (code) {
        case InstanceCodeQuit:
            return WindowAction::Close;
        case InstanceCodeUpdateChannel:
            return WindowAction::CheckChannel;
        default:
            return WindowAction::None;
    }
}

}  // namespace quarnel
