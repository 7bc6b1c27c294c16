#include "libraries/src/adapter/wlan_identifier.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/wireless_elements.h"

namespace quarnel {
namespace {

std::vector<std::uint8_t> Elements(std::initializer_list<std::vector<std::uint8_t>> parts) {
    std::vector<std::uint8_t> all;
    for (const auto& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

TEST(WlanIdentifier, SsidElementIsFoundAmongOthersAndCutToThirtyTwoBytes) {
    const auto elements =
        Elements({{1, 2, 0x82, 0x84}, {0, 7, 'H', 'o', 'm', 'e', 'N', 'e', 't'}, {3, 1, 6}});
    EXPECT_EQ(SsidFromInformationElements(elements.data(), elements.size()), "HomeNet");

    std::vector<std::uint8_t> full{0, 32};
    for (int i = 0; i < 32; ++i) {
        full.push_back(static_cast<std::uint8_t>('a' + i % 26));
    }
    const std::string ssid = SsidFromInformationElements(full.data(), full.size());
    EXPECT_EQ(ssid.size(), 32u);
    EXPECT_EQ(ssid, std::string("abcdefghijklmnopqrstuvwxyzabcdef"));

    std::vector<std::uint8_t> oversized{0, 40};
    oversized.resize(42, 'x');
    EXPECT_EQ(SsidFromInformationElements(oversized.data(), oversized.size()).size(), 32u);
}

TEST(WlanIdentifier, TruncatedOrMissingElementsGiveNoSsid) {
    const std::vector<std::uint8_t> cut{1, 2, 0x82, 0x84, 0, 7, 'H', 'o'};
    EXPECT_EQ(SsidFromInformationElements(cut.data(), cut.size()), "");
    const std::vector<std::uint8_t> lengthPastEnd{1, 200, 0, 4, 'a', 'b', 'c', 'd'};
    EXPECT_EQ(SsidFromInformationElements(lengthPastEnd.data(), lengthPastEnd.size()), "");
    const std::vector<std::uint8_t> none{1, 1, 2};
    EXPECT_EQ(SsidFromInformationElements(none.data(), none.size()), "");
    EXPECT_EQ(SsidFromInformationElements(nullptr, 10), "");
    // A hidden network announces an empty SSID.
    const std::vector<std::uint8_t> hidden{0, 0};
    EXPECT_EQ(SsidFromInformationElements(hidden.data(), hidden.size()), "");
}

TEST(WlanIdentifier, SsidBytesBecomeTextUpToTheFirstZeroByte) {
    EXPECT_EQ(SsidBytesToText("OfficeNet"), "OfficeNet");
    EXPECT_EQ(SsidBytesToText(std::string("Cafe\0junk", 9)), "Cafe");
    EXPECT_EQ(SsidBytesToText("Caf\xC3\xA9"), "Caf\xC3\xA9");
    // Bytes that are not UTF-8 are read as ISO 8859-1.
    EXPECT_EQ(SsidBytesToText("Caf\xE9 \xFF"), "Caf\xC3\xA9 \xC3\xBF");
    EXPECT_EQ(SsidBytesToText(std::string(32, 'z')), std::string(32, 'z'));
}

}  // namespace
}  // namespace quarnel
