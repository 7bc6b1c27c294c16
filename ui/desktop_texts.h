#pragma once

// The desktop's own texts beyond the program's string table: what the windows say when an
// attempt got no answer and when an action of the user could not be carried out. English and
// German, chosen by the string table's rule (resources/texts.h). Qt-free.

#include <string>
#include <string_view>

#include "resources/texts.h"

namespace quarnel {

enum class DesktopText {
    NoAnswerShort,        // an attempt that got no answer, in a status line and a history line
    SettingsUnavailable,  // the settings cannot be started as root (no pkexec)
    LinkNotOpened,        // no web browser could be started; the address follows
    OpenAddress,          // no desktop user to start a browser as; the address follows
    NotStored,            // %1: the fields whose values could not be stored
    ChangeTime,           // the field name of the settings' change time in NotStored
    CrashReportNotSent,   // the crash window after a send that got no answer
};

// The text in the current language with "%1" filled from parameters (as GetLocalizedText).
std::string GetDesktopText(DesktopText text, std::string_view parameters = {});
std::string GetDesktopText(DesktopText text, std::string_view parameters, Language language);

}  // namespace quarnel
