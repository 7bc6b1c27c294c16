#include "ddns/answer_text.h"

#include <gtest/gtest.h>

namespace quarnel {
namespace {

TEST(AnswerText, Windows1252MapsOnlyTheBytes80To9FApartFromLatin1) {
    // 0x7F and 0xA0 sit just outside the mapped range; 0x81 is unassigned and keeps its value.
    EXPECT_EQ(DecodeWindows1252Answer({0x7F, 0x80, 0x81, 0x9F, 0xA0, 0xFF}),
              "\x7F\xE2\x82\xAC\xC2\x81\xC5\xB8\xC2\xA0\xC3\xBF");
}

}  // namespace
}  // namespace quarnel
