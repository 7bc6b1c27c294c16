#include "resources/string_table.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <set>
#include <string>

#include "platform/text.h"
#include "resources/texts.h"
#include "tests/support/test_support.h"

namespace quarnel {
namespace {

std::set<int> ExpectedIds() {
    std::set<int> ids;
    for (int id = 100; id <= 167; ++id) {
        ids.insert(id);  // 166 and 167: the settings window's IPv6 choice
    }
    ids.insert({35200, 35201});
    for (int id = 35205; id <= 35223; ++id) {
        ids.insert(id);  // 35211 and on: the update window's reasons, in both languages
    }
    return ids;
}

std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t pos = text.find(part); pos != std::string::npos;
         pos = text.find(part, pos + part.size())) {
        ++count;
    }
    return count;
}

TEST(StringTable, HoldsExactlyTheProgramsIdsInBothLanguages) {
    const std::set<int> expected = ExpectedIds();
    std::set<int> found;
    for (int id = 0; id <= 65535; ++id) {
        const std::string english = LoadResourceText(id, Language::English);
        const std::string german = LoadResourceText(id, Language::German);
        EXPECT_EQ(english.empty(), german.empty()) << "id " << id;
        if (!english.empty()) {
            found.insert(id);
        }
    }
    EXPECT_EQ(found, expected);
    EXPECT_EQ(kStringTableSize, expected.size());
}

// The lookup halves the table, so it must be sorted without duplicates.
TEST(StringTable, EntriesAreInStrictIdOrder) {
    for (std::size_t i = 1; i < kStringTableSize; ++i) {
        EXPECT_LT(kStringTable[i - 1].id, kStringTable[i].id) << "entry " << i;
    }
    for (std::size_t i = 0; i < kStringTableSize; ++i) {
        EXPECT_EQ(FindStringTableEntry(kStringTable[i].id), &kStringTable[i]);
    }
}

TEST(StringTable, TextsAreValidUtf8WithSinglePlaceholdersAndMatchingMnemonics) {
    for (std::size_t i = 0; i < kStringTableSize; ++i) {
        const StringTableEntry& entry = kStringTable[i];
        for (const std::string text : {entry.english, entry.german}) {
            SCOPED_TRACE("id " + std::to_string(entry.id) + ": " + text);
            // A text that does not survive the round trip holds bytes that are not UTF-8.
            EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16(text)), text);
            EXPECT_EQ(text.find('\r'), std::string::npos);
            // Every percent sign starts the one placeholder the texts use.
            EXPECT_EQ(Count(text, "%"), Count(text, "%1"));
        }
        // A translation keeps the placeholder and the menu mnemonic of its original.
        EXPECT_EQ(Count(entry.english, "%1"), Count(entry.german, "%1")) << "id " << entry.id;
        EXPECT_EQ(Count(entry.english, "&"), Count(entry.german, "&")) << "id " << entry.id;
    }
}

TEST(StringTable, TextsReadExactlyAsWritten) {
    struct Case {
        int id;
        const char* english;
        const char* german;
    };
    const Case cases[] = {
        {100, "Quarnel Updater", "Quarnel Updater"},
        {101, "The Quarnel Updater Developers", "The Quarnel Updater Developers"},
        {108, "IP Check Interval", "IP Überprüfungsinterval"},
        {113, "Last Update: %1", "Letzte Aktualisierung: %1"},
        {117, "%1 minutes", "%1 Minuten"},
        {128, "&Quit", "&Schließen"},
        {133,
         "The update changed no settings, and is considered abusive. Additional nochg updates will "
         "cause the hostname to become blocked. New IP: %1",
         "Die Aktualisierung änderte keine Einstellungen, und wird deshalb als missbräuchlich "
         "empfunden. Weitere unnötige Aktualisierungen können zur Blockade des Hostnames führen. "
         "Neue IP: %1"},
        {139,
         "The hostname specified is not a fully-qualified domain name (not in the form "
         "myhost.example.org or example.org). Please check your settings to continue.",
         "Der angegebene Hostname ist kein vollständiger Domainname (nicht in der Form "
         "myhost.example.org oder example.org). Bitte überprüfe deine Einstellungen um "
         "fortzufahren."},
        {145, "An unknown error occurred: %1", "Ein unbekannter Fehler ist aufgetreten: %1"},
        {164, "No-IP", "No-IP"},
        {165, "Nothing reached the provider: no answer came back.",
         "Nichts hat den Dienstleister erreicht: es kam keine Antwort zurück."},
        {166, "Also update the IPv6 address", "Auch die IPv6-Adresse aktualisieren"},
        {35200, "Software Update", "Software Update"},
        {35206, "Version %1 is available for installation",
         "Version %1 steht zur Installation bereit"},
        {35210, "Launching installer ...", "Starte Installation ..."},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(LoadResourceText(c.id, Language::English), c.english) << "id " << c.id;
        EXPECT_EQ(LoadResourceText(c.id, Language::German), c.german) << "id " << c.id;
    }
}

// The About text: purpose, a blank, the maker line, the separator LF blank LF blank LF, and the
// icon credit; the maker line names the maker of id 101.
TEST(StringTable, AboutTextHasItsPartsAndTheMakersName) {
    const std::string separator = "\n \n \n";
    struct Case {
        Language language;
        std::string purpose, makerPrefix, makerSuffix, creditStart;
    };
    const Case cases[] = {
        {Language::English, "This application updates your dynamic IP service with your latest IP.",
         "This software is developed by ", ".", "The icons of this application"},
        {Language::German, "Dieses Programm teilt deinem IP Dienstleister deine aktuellste IP mit.",
         "Diese Software wird von ", " entwickelt.", "Die Icons dieser Anwendung"},
    };
    for (const Case& c : cases) {
        const std::string about = LoadResourceText(121, c.language);
        const std::string maker = LoadResourceText(101, c.language);
        ASSERT_FALSE(maker.empty());
        EXPECT_EQ(Count(about, "\n"), 3u) << about;
        const std::size_t split = about.find(separator);
        ASSERT_NE(split, std::string::npos) << about;
        EXPECT_EQ(about.substr(0, split), c.purpose + " " + c.makerPrefix + maker + c.makerSuffix);
        const std::string credit = about.substr(split + separator.size());
        EXPECT_EQ(credit.rfind(c.creditStart, 0), 0u) << credit;
        EXPECT_NE(credit.find("Quarnel Updater"), std::string::npos) << credit;
        EXPECT_NE(credit.find("quarnel-updater.example"), std::string::npos) << credit;
        EXPECT_EQ(credit.back(), '.');
    }
}

// The menu entry shows the product name and the first sentence of the About text.
TEST(StringTable, DesktopEntryAgreesWithTheTexts) {
    const std::string entry =
        test::ReadFileText(std::string(QUARNEL_SOURCE_DIR) + "/packaging/quarnel-updater.desktop");
    ASSERT_FALSE(entry.empty());
    const std::string english = LoadResourceText(121, Language::English);
    const std::string german = LoadResourceText(121, Language::German);
    EXPECT_NE(entry.find("\nName=" + LoadResourceText(100, Language::English) + "\n"),
              std::string::npos);
    EXPECT_NE(entry.find("\nComment=" + english.substr(0, english.find('.') + 1) + "\n"),
              std::string::npos);
    EXPECT_NE(entry.find("\nComment[de]=" + german.substr(0, german.find('.') + 1) + "\n"),
              std::string::npos);
    for (const char* line :
         {"[Desktop Entry]\n", "\nType=Application\n", "\nExec=quarnel-updater\n",
          "\nIcon=quarnel-updater\n", "\nCategories=Network;\n"}) {
        EXPECT_NE(entry.find(line), std::string::npos) << line;
    }
}

}  // namespace
}  // namespace quarnel
