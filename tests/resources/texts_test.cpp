#include "resources/texts.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "tests/support/test_support.h"

namespace quarnel {
namespace {

using test::ScopedEnvironment;

TEST(Texts, PlaceholdersStayWithoutParametersAndAreFilledWithThem) {
    EXPECT_EQ(GetLocalizedText(113, "", Language::English), "Last Update: %1");
    EXPECT_EQ(GetLocalizedText(113, "", Language::German), "Letzte Aktualisierung: %1");
    EXPECT_EQ(GetLocalizedText(117, "15", Language::English), "15 minutes");
    EXPECT_EQ(GetLocalizedText(117, "15", Language::German), "15 Minuten");
    EXPECT_EQ(GetLocalizedText(145, "abc", Language::English), "An unknown error occurred: abc");
    EXPECT_EQ(GetLocalizedText(35206, "1.5.2.300", Language::German),
              "Version 1.5.2.300 steht zur Installation bereit");
}

TEST(Texts, ExtraParameterValuesAreIgnored) {
    EXPECT_EQ(GetLocalizedText(117, "30\n45\n60", Language::English), "30 minutes");
    EXPECT_EQ(GetLocalizedText(111, "x\ny", Language::German), "OK");
}

TEST(Texts, UnknownIdsGiveTheEmptyText) {
    EXPECT_EQ(GetLocalizedText(0, "", Language::English), "");
    EXPECT_EQ(GetLocalizedText(0, "a\nb", Language::English), "");
    EXPECT_EQ(GetLocalizedText(99, "x", Language::German), "");
    EXPECT_EQ(GetLocalizedText(168, "", Language::English), "");
    EXPECT_EQ(GetLocalizedText(35202, "", Language::German), "");
    EXPECT_EQ(GetLocalizedText(-1, "", Language::English), "");
    EXPECT_EQ(LoadResourceText(65535, Language::English), "");
}

TEST(Texts, SubstitutionRunsDownwardsSoValuesMayHoldSmallerPlaceholders) {
    EXPECT_EQ(FillPlaceholders("%1 %2", "a\n%1"), "a a");
    EXPECT_EQ(FillPlaceholders("%1 %2", "x\ny\nextra"), "x y");
    // Ten values: %10 is filled before %1 could take its first two characters.
    EXPECT_EQ(FillPlaceholders("%10|%1", "1\n2\n3\n4\n5\n6\n7\n8\n9\nten"), "ten|1");
    EXPECT_EQ(FillPlaceholders("%1%1", "v"), "vv");
    EXPECT_EQ(FillPlaceholders("%01", "v"), "%01");
    // An empty value still counts: a lone line feed is two empty values.
    EXPECT_EQ(FillPlaceholders("[%1|%2]", "\n"), "[|]");
}

// The first of LC_ALL, LC_MESSAGES and LANG that is set and not empty decides.
TEST(TextsLanguage, FirstSetLocaleVariableDecides) {
    struct Case {
        std::optional<std::string> all, messages, lang;
        Language expected;
    };
    const Case cases[] = {
        {std::nullopt, std::nullopt, std::nullopt, Language::English},
        {std::nullopt, std::nullopt, "de_DE.UTF-8", Language::German},
        {std::nullopt, std::nullopt, "C", Language::English},
        {std::nullopt, std::nullopt, "en_US.UTF-8", Language::English},
        {std::nullopt, "de_AT.UTF-8", "en_US.UTF-8", Language::German},
        {"C", "de_DE.UTF-8", "de_DE.UTF-8", Language::English},
        {"de_CH.UTF-8", "en_GB.UTF-8", "C", Language::German},
        // An empty variable counts as not set.
        {"", "", "de_DE.UTF-8", Language::German},
        {"", std::nullopt, "", Language::English},
        {std::nullopt, std::nullopt, "POSIX", Language::English},
    };
    for (const Case& c : cases) {
        ScopedEnvironment all("LC_ALL", c.all);
        ScopedEnvironment messages("LC_MESSAGES", c.messages);
        ScopedEnvironment lang("LANG", c.lang);
        EXPECT_EQ(ReadLanguageFromEnvironment(), c.expected)
            << "LC_ALL=" << c.all.value_or("(unset)")
            << " LC_MESSAGES=" << c.messages.value_or("(unset)")
            << " LANG=" << c.lang.value_or("(unset)");
    }
}

TEST(TextsLanguage, LookupWithoutLanguageUsesTheCurrentOne) {
    const Language language = CurrentLanguage();
    EXPECT_EQ(CurrentLanguage(), language);
    EXPECT_EQ(LoadResourceText(112), LoadResourceText(112, language));
    EXPECT_EQ(GetLocalizedText(117, "5"), GetLocalizedText(117, "5", language));
}

}  // namespace
}  // namespace quarnel
