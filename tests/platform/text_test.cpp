#include "platform/text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace quarnel {
namespace {

TEST(Text, Utf16RoundTripKeepsEveryPlaneAndReplacesBrokenInput) {
    const std::string text =
        "Gr\xC3\xBC\xC3\x9F"
        "e \xE2\x82\xAC \xF0\x9F\x98\x80";
    const std::u16string units = Utf8ToUtf16(text);
    EXPECT_EQ(units.size(), 10u);  // the emoji takes a surrogate pair
    EXPECT_EQ(Utf16ToUtf8(units), text);

    EXPECT_EQ(Utf8ToUtf16("\xC3"), u"\uFFFD");            // truncated sequence
    EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");  // overlong form
    EXPECT_EQ(Utf16ToUtf8(std::u16string(1, u'\xD800')), "\xEF\xBF\xBD");
}

// Each length class at its last and first code point, the overlong form just below a class and
// the first code point past Unicode; the bytes are those of the published UTF-8 tables.
TEST(Text, Utf8LengthClassesChangeExactlyAtTheirBounds) {
    const struct {
        std::u16string units;
        std::string bytes;
    } cases[] = {
        {u"\u007F", "\x7F"},
        {u"\u0080", "\xC2\x80"},
        {u"\u07FF", "\xDF\xBF"},
        {u"\u0800", "\xE0\xA0\x80"},
        {u"\uFFFF", "\xEF\xBF\xBF"},
        {u"\U00010000", "\xF0\x90\x80\x80"},
        {u"\U0010FFFF", "\xF4\x8F\xBF\xBF"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes);
        EXPECT_EQ(Utf16ToUtf8(c.units), c.bytes);
        EXPECT_EQ(Utf8ToUtf16(c.bytes), c.units);
    }
    EXPECT_EQ(Utf8ToUtf16("\xE0\x9F\xBF"), u"\uFFFD\uFFFD\uFFFD");            // U+07FF overlong
    EXPECT_EQ(Utf8ToUtf16("\xF4\x90\x80\x80"), u"\uFFFD\uFFFD\uFFFD\uFFFD");  // U+110000
}

TEST(Text, Utf16LeBytesAreLittleEndianAndDecodingCanStopAtTheTerminator) {
    const auto bytes = Utf8ToUtf16LeBytes("A\xC3\xA4");
    ASSERT_EQ(bytes.size(), 4u);
    EXPECT_EQ(bytes[0], 'A');
    EXPECT_EQ(bytes[1], 0);
    EXPECT_EQ(bytes[2], 0xE4);
    EXPECT_EQ(bytes[3], 0);

    const std::uint8_t stored[] = {'h', 0, 'i', 0, 0, 0, 'x', 0, 'y'};
    EXPECT_EQ(Utf16LeBytesToUtf8(stored, sizeof stored, true), "hi");
    EXPECT_EQ(Utf16LeBytesToUtf8(stored, sizeof stored, false), std::string("hi\0x", 4));
}

TEST(Text, CaseFoldingTouchesAsciiLettersOnly) {
    EXPECT_EQ(ToLowerAscii("/INSTALL \xC3\x84"), "/install \xC3\x84");
    EXPECT_EQ(ToUpperAscii("ab1"), "AB1");
}

TEST(Text, SplitGivesOnePieceMoreThanSeparators) {
    EXPECT_EQ(SplitText("a\nb\n", '\n'), (std::vector<std::string>{"a", "b", ""}));
    EXPECT_EQ(SplitText("", ','), (std::vector<std::string>{""}));
}

}  // namespace
}  // namespace quarnel
