#include "resources/texts.h"

#include <gtest/gtest.h>

namespace quarnel {
namespace {

TEST(Texts, PlaceholdersStayWithoutParametersAndAreFilledWithThem) {
    EXPECT_EQ(GetLocalizedText(113, "", Language::English), "Last Update: %1");
    EXPECT_EQ(GetLocalizedText(117, "15", Language::English), "15 minutes");
    EXPECT_EQ(GetLocalizedText(117, "15", Language::German), "15 Minuten");
    EXPECT_EQ(GetLocalizedText(145, "abc", Language::English), "An unknown error occurred: abc");
}

TEST(Texts, UnknownIdsGiveTheEmptyText) {
    EXPECT_EQ(GetLocalizedText(0, "", Language::English), "");
    EXPECT_EQ(GetLocalizedText(99, "x", Language::German), "");
    EXPECT_EQ(LoadResourceText(65535, Language::English), "");
}

TEST(Texts, SubstitutionRunsDownwardsSoValuesMayHoldSmallerPlaceholders) {
    EXPECT_EQ(FillPlaceholders("%1 %2", "a\n%1"), "a a");
    EXPECT_EQ(FillPlaceholders("%1 %2", "x\ny\nextra"), "x y");
    // Ten values: %10 is filled before %1 could take its first two characters.
    EXPECT_EQ(FillPlaceholders("%10|%1", "1\n2\n3\n4\n5\n6\n7\n8\n9\nten"), "ten|1");
    EXPECT_EQ(FillPlaceholders("%1%1", "v"), "vv");
    EXPECT_EQ(FillPlaceholders("%01", "v"), "%01");
}

}  // namespace
}  // namespace quarnel
