#include "resources/string_table.h"

#include <algorithm>

namespace quarnel {

// Texts are UTF-8; a line break is a single LF, "%1" is a placeholder and "&" marks a menu
// mnemonic. Keep the entries in id order: FindStringTableEntry searches them by halving.
const StringTableEntry kStringTable[] = {
    {100, "Quarnel Updater", "Quarnel Updater"},
    {101, "The Quarnel Updater Developers", "The Quarnel Updater Developers"},
    {102, "Username", "Benutzername"},
    {103, "Password", "Passwort"},
    {104, "Hostname", "Hostname"},
    {105, "Information", "Information"},
    {106, "Warning", "Warnung"},
    {107, "Error", "Fehler"},
    {108, "IP Check Interval", "IP Überprüfungsinterval"},
    {109, "IP Service Provider", "IP Dienstleister"},
    {110, "System Tray Autostart", "System Tray Autostart"},
    {111, "OK", "OK"},
    {112, "Cancel", "Abbrechen"},
    {113, "Last Update: %1", "Letzte Aktualisierung: %1"},
    {114, "Last Result: %1", "Letztes Ergebnis: %1"},
    {115, "Never", "Nie"},
    {116, "Nothing", "Keines"},
    {117, "%1 minutes", "%1 Minuten"},
    {118, "Enabled for all users", "Für alle Benutzer aktiv"},
    {119, "Enabled for this user", "Für diesen Benutzer aktiv"},
    {120, "Disabled", "Inaktiv"},
    // The About text (also the service's description): what the program does, who makes it, a
    // blank-line separator of exactly LF blank LF blank LF, and where the icons come from. The
    // icons were drawn by this project, so the credit names it.
    {121,
     "This application updates your dynamic IP service with your latest IP. "
     "This software is developed by The Quarnel Updater Developers."
     "\n \n \n"
     "The icons of this application were drawn for it by the Quarnel Updater project "
     "(quarnel-updater.example).",
     "Dieses Programm teilt deinem IP Dienstleister deine aktuellste IP mit. "
     "Diese Software wird von The Quarnel Updater Developers entwickelt."
     "\n \n \n"
     "Die Icons dieser Anwendung wurden vom Quarnel Updater Projekt "
     "(quarnel-updater.example) eigens für sie gezeichnet."},
    {122, "General", "Allgemein"},
    {123, "Wireless Network", "Drahtlos Netzwerk"},
    {124, "About", "Über"},
    {125, "&Quarnel Updater", "&Quarnel Updater"},
    {126, "&IP Updates", "&IP Aktualisierungen"},
    {127, "&Router", "&Router"},
    {128, "&Quit", "&Schließen"},
    {129, "Wireless Network (SSID)", "Drahtlos Netzwerk (SSID)"},
    {130, "Insert", "Eintragen"},
    {131, "Remove", "Entfernen"},
    {132, "Use Wireless Network filtering", "Benutze Drahtlos Netzwerk Filterung"},
    {133,
     "The update changed no settings, and is considered abusive. Additional nochg updates will "
     "cause the hostname to become blocked. New IP: %1",
     "Die Aktualisierung änderte keine Einstellungen, und wird deshalb als missbräuchlich "
     "empfunden. Weitere unnötige Aktualisierungen können zur Blockade des Hostnames führen. Neue "
     "IP: %1"},
    {134, "The update was successful, and the hostname is now updated. New IP: %1",
     "Die Aktualisierung war erfolgreich, und der Hostname wurde aktualisiert. Neue IP: %1"},
    {135, "DNS error encountered. The program will stop updating for ca. 30 minutes.",
     "DNS Fehler aufgetreten. Das Programm stoppt die Aktualisierungen für ca. 30 Minuten."},
    {136,
     "There is a problem or scheduled maintenance on our side. The program will stop updating for "
     "ca. 30 minutes.",
     "Es gibt ein Problem oder eine geplante Wartung auf unserer Seite. Das Programm stoppt die "
     "Aktualisierungen für ca. 30 Minuten."},
    {137,
     "The hostname specified is blocked for update abuse. Please check your settings to continue.",
     "Der angegebene Hostname wurde auf Grund missbräuchlicher Aktualisierungen geblockt. Bitte "
     "überprüfe deine Einstellungen um fortzufahren."},
    {138,
     "The hostname specified does not exist in this user account. Please check your settings to "
     "continue.",
     "Der angegebene Hostname existiert nicht unter dem angegeben Benutzer. Bitte überprüfe deine "
     "Einstellungen um fortzufahren."},
    // Example names from the reserved documentation domains, never a real provider's.
    {139,
     "The hostname specified is not a fully-qualified domain name (not in the form "
     "myhost.example.org or example.org). Please check your settings to continue.",
     "Der angegebene Hostname ist kein vollständiger Domainname (nicht in der Form "
     "myhost.example.org oder example.org). Bitte überprüfe deine Einstellungen um fortzufahren."},
    {140,
     "Too many hosts (more than 20) specified in an update. Please check your settings to "
     "continue.",
     "Es wurden zu viele Hosts (mehr als 20) für die Aktualisierung angegeben. Bitte überprüfe "
     "deine Einstellungen um fortzufahren."},
    {141,
     "The username and password pair do not match a real user. Please check your settings to "
     "continue.",
     "Der Benutzername und das Passwort passen nicht zu einem echten Benutzer. Bitte überprüfe "
     "deine Einstellungen um fortzufahren."},
    {142,
     "The user agent was not sent or the HTTP method is not permitted. This error should never "
     "occur, please inform the developer. Please check your settings to continue.",
     "Der User Agent wurde nicht gesendet oder die HTTP Methode ist nicht erlaubt. Dieser Fehler "
     "sollte niemals auftreten, bitte informiere den Entwickler! Bitte überprüfe deine "
     "Einstellungen um fortzufahren."},
    {143,
     "The IP address specified is managed by another customer. The hostname specified exists, but "
     "not under the username specified. Please check your settings to continue.",
     "Die angegebene IP Adresse wird von einem anderem Benutzer verwaltet. Der angegebene Hostname "
     "existiert, aber nicht unter dem angegeben Benutzer. Bitte überprüfe deine Einstellungen um "
     "fortzufahren."},
    {144,
     "An option available only to credited users was specified, but the user is not a credited "
     "user. Please check your settings to continue.",
     "Eine Option die nur bestimmten Benutzern zur Verfügung steht wurde angegeben, aber dieser "
     "Benutzer hat nicht die Befugnis dazu. Bitte überprüfe deine Einstellungen um fortzufahren."},
    {145, "An unknown error occurred: %1", "Ein unbekannter Fehler ist aufgetreten: %1"},
    {146, "An unknown error occurred, no error message was returned by the server!",
     "Ein unbekannter Fehler ist aufgetreten, es wurde keine Fehlermeldung vom Server "
     "zurückgegeben!"},
    {147, "DynDNS", "DynDNS"},
    {148, "OpenDNS", "OpenDNS"},
    {149, "DNS-O-Matic", "DNS-O-Matic"},
    {150, "IP Updates", "IP Aktualisierungen"},
    {151, "Diagnose", "Diagnose"},
    {152, "&Diagnose", "&Diagnose"},
    {153, "The following IPs need to be equal:", "Die folgenden IPs müssen gleich sein:"},
    {154, "Please update your username and password settings to continue.",
     "Bitte aktualisiere Benutzername und Passwort um fortzufahren."},
    {155, "HTTPS IP:", "HTTPS IP:"},
    {156, "HTTP IP:", "HTTP IP:"},
    {157, "DNS IP:", "DNS IP:"},
    {158, "Local Network", "Lokales Netzwerk"},
    {159, "Local Network (DHCP)", "Lokales Netzwerk (DHCP)"},
    {160, "Use Local Network filtering", "Benutze Lokale Netzwerk Filterung"},
    {161, "Test Beta Versions", "Teste Beta Versionen"},
    {162, "spDNS", "spDNS"},
    {163, "STRATO", "STRATO"},
    {164, "No-IP", "No-IP"},
    // An attempt that got no answer at all: the request may never have left the machine.
    {165, "Nothing reached the provider: no answer came back.",
     "Nichts hat den Dienstleister erreicht: es kam keine Antwort zurück."},
    // The settings window's IPv6 check box, and its text for a provider that takes IPv4 only.
    {166, "Also update the IPv6 address", "Auch die IPv6-Adresse aktualisieren"},
    {167, "IPv6: this provider takes IPv4 only", "IPv6: dieser Dienstleister nimmt nur IPv4"},
    {35200, "Software Update", "Software Update"},
    {35201, "Install Update", "Installiere Update"},
    {35205, "Fetching update information ...", "Lade Update Informationen ..."},
    {35206, "Version %1 is available for installation", "Version %1 steht zur Installation bereit"},
    {35207, "You are running the latest version %1", "Du benutzt die aktuellste Version %1"},
    {35208, "Downloading update ...", "Herunterladen des Updates ..."},
    {35209, "Checking digital signature ...", "Überprüfe Digitale Signatur ..."},
    {35210, "Launching installer ...", "Starte Installation ..."},
    {35211, "The maker's update page could not be read",
     "Die Update-Seite des Herstellers konnte nicht gelesen werden"},
    {35212, "The maker's page names no usable download (https on the maker's site)",
     "Die Seite des Herstellers nennt keinen brauchbaren Download (https auf seiner Seite)"},
    {35213, "No private folder could be made for the update",
     "Für das Update konnte kein privater Ordner angelegt werden"},
    {35214, "The download did not arrive whole", "Der Download ist nicht vollständig angekommen"},
    {35215, "The download's signature did not arrive",
     "Die Signatur des Downloads ist nicht angekommen"},
    {35216, "The download is not signed by the maker; it was not installed",
     "Der Download ist nicht vom Hersteller signiert; er wurde nicht installiert"},
    {35217, "The installation could not be started or failed",
     "Die Installation konnte nicht gestartet werden oder ist fehlgeschlagen"},
    {35218,
     "The downloaded file is missing or was replaced before the installation; it was not "
     "installed",
     "Die heruntergeladene Datei fehlt oder wurde vor der Installation ersetzt; sie wurde nicht "
     "installiert"},
    {35219, "The download is not a package of this program; it was not installed",
     "Der Download ist kein Paket dieses Programms; er wurde nicht installiert"},
    {35220, "The download is not newer than the installed version; it was not installed",
     "Der Download ist nicht neuer als die installierte Version; er wurde nicht installiert"},
    {35221, "The download is not the version the maker offers; it was not installed",
     "Der Download ist nicht die vom Hersteller angebotene Version; er wurde nicht installiert"},
    {35222, "The installation was not authorized", "Die Installation wurde nicht genehmigt"},
    {35223, "The update was cancelled", "Das Update wurde abgebrochen"},
};

const std::size_t kStringTableSize = sizeof kStringTable / sizeof kStringTable[0];

const StringTableEntry* FindStringTableEntry(int textId) {
    const StringTableEntry* end = kStringTable + kStringTableSize;
    const StringTableEntry* found =
        std::lower_bound(kStringTable, end, textId,
                         [](const StringTableEntry& entry, int id) { return entry.id < id; });
    return (found != end && found->id == textId) ? found : nullptr;
}

}  // namespace quarnel
