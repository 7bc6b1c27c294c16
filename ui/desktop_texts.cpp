#include "ui/desktop_texts.h"

#include <cstddef>
#include <iterator>

namespace quarnel {
namespace {

struct Texts {
    DesktopText id;
    const char* english;
    const char* german;
};

// In the order of DesktopText.
constexpr Texts kTexts[] = {
    {DesktopText::NoAnswerShort, "no answer from the provider", "keine Antwort vom Dienstleister"},
    {DesktopText::SettingsUnavailable,
     "The settings cannot be opened: pkexec, which asks for the administrator's password, is "
     "not installed.",
     "Die Einstellungen können nicht geöffnet werden: pkexec, das nach dem Passwort des "
     "Administrators fragt, ist nicht installiert."},
    {DesktopText::LinkNotOpened, "No web browser could be started. The address is:",
     "Es konnte kein Webbrowser gestartet werden. Die Adresse lautet:"},
    {DesktopText::OpenAddress, "Please open this address in your web browser:",
     "Bitte öffne diese Adresse in deinem Webbrowser:"},
    {DesktopText::NotStored, "These settings could not be stored: %1",
     "Diese Einstellungen konnten nicht gespeichert werden: %1"},
    {DesktopText::ChangeTime, "time of the change", "Zeitpunkt der Änderung"},
    {DesktopText::CrashReportNotSent, "The crash report could not be sent",
     "Der Fehlerbericht konnte nicht gesendet werden"},
};

constexpr bool InIdOrder() {
    for (std::size_t i = 0; i < std::size(kTexts); ++i) {
        if (static_cast<std::size_t>(kTexts[i].id) != i) {
            return false;
        }
    }
    return true;
}
static_assert(InIdOrder(), "the texts are looked up by their id's position");

}  // namespace

std::string GetDesktopText(DesktopText text, std::string_view parameters, Language language) {
    const Texts& entry = kTexts[static_cast<std::size_t>(text)];
    return FillPlaceholders(language == Language::German ? entry.german : entry.english,
                            parameters);
}

std::string GetDesktopText(DesktopText text, std::string_view parameters) {
    return GetDesktopText(text, parameters, CurrentLanguage());
}

}  // namespace quarnel
