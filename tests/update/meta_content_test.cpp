#include "update/meta_content.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace quarnel {
namespace {

struct MetaCase {
    const char* name;
    std::string page;
    std::string version;  // GetMetaContent of the version tag
    std::string unique;   // GetUniqueMetaContent of the version tag
};

const std::string kTag(kMetaSoftwareVersion);

class MetaContent : public ::testing::TestWithParam<MetaCase> {};

TEST_P(MetaContent, ReadsTheTextUpToTheClosingQuote) {
    EXPECT_EQ(GetMetaContent(GetParam().page, kMetaSoftwareVersion), GetParam().version);
    EXPECT_EQ(GetUniqueMetaContent(GetParam().page, kMetaSoftwareVersion), GetParam().unique);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MetaContent,
    ::testing::Values(
        MetaCase{"Present", "<head>" + kTag + "1.5.2.295\"></head>", "1.5.2.295", "1.5.2.295"},
        MetaCase{"Missing", "<head><meta name=\"other\" content=\"1\"></head>", "", ""},
        MetaCase{"Unterminated", "<head>" + kTag + "1.5.2.295></head>", "", ""},
        MetaCase{"CaseMatters", "<META NAME=\"software-version\" content=\"1.5.2.295\">", "", ""},
        MetaCase{"Duplicated", kTag + "1.5.2.295\">" + kTag + "1.5.2.300\">", "1.5.2.295", ""},
        // The beta tag does not hold the version tag's text, nor the other way round.
        MetaCase{"OnlyBeta", std::string(kMetaSoftwareBetaVersion) + "1.5.2.300\">", "", ""},
        MetaCase{"EmptyValue", kTag + "\">", "", ""}),
    [](const ::testing::TestParamInfo<MetaCase>& p) { return std::string(p.param.name); });

struct VersionCase {
    const char* name;
    const char* version;
    std::int64_t build;
    bool newer;
};

class PublishedVersion : public ::testing::TestWithParam<VersionCase> {};

TEST_P(PublishedVersion, OnlyTheFourthNumberCounts) {
    EXPECT_EQ(PublishedBuildNumber(GetParam().version), GetParam().build);
    EXPECT_EQ(IsNewerVersion(GetParam().version), GetParam().newer);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PublishedVersion,
    ::testing::Values(VersionCase{"Equal", "1.5.2.294", 294, false},
                      VersionCase{"Newer", "1.5.2.295", 295, true},
                      VersionCase{"NewerMajorOlderBuild", "2.0.0.1", 1, false},
                      VersionCase{"ThreeFields", "1.5.295", 0, false},
                      VersionCase{"FifthFieldIgnored", "1.5.2.300.1", 300, true},
                      VersionCase{"BlanksAndSign", "1.5.2. \t+296", 296, true},
                      VersionCase{"Negative", "1.5.2.-300", -300, false},
                      VersionCase{"NotANumber", "1.5.2.beta", 0, false},
                      VersionCase{"TrailingText", "1.5.2.301rc", 301, true},
                      VersionCase{"DigitsThenText", "1.5.2.301 rc", 301, true},
                      VersionCase{"NineDigits", "1.5.2.999999999", 999999999, true},
                      // Would wrap around in 64 bits and could read as anything.
                      VersionCase{"Huge", "1.5.2.18446744073709552000", -1, false},
                      VersionCase{"HugeHexadecimal", "1.5.2.$FFFFFFFFFFFFFFFFFFFF", -1, false},
                      VersionCase{"Empty", "", 0, false}),
    [](const ::testing::TestParamInfo<VersionCase>& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace quarnel
