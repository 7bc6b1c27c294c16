// What "/status" prints of texts it did not write (provider answers, stored values, event
// records): nothing a terminal would act on, and exactly the text it was given.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "platform/visible_text.h"

namespace quarnel {
namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// Undoes the escapes: "\\" is a backslash, "\xNN" the byte NN; nothing else may follow a
// backslash.
bool Unescape(std::string_view shown, std::string& text) {
    for (std::size_t i = 0; i < shown.size(); ++i) {
        if (shown[i] != '\\') {
            text += shown[i];
            continue;
        }
        if (i + 1 < shown.size() && shown[i + 1] == '\\') {
            text += '\\';
            ++i;
            continue;
        }
        if (i + 3 >= shown.size() || shown[i + 1] != 'x') {
            return false;
        }
        const int high = HexValue(shown[i + 2]);
        const int low = HexValue(shown[i + 3]);
        if (high < 0 || low < 0) {
            return false;
        }
        text += static_cast<char>(high * 16 + low);
        i += 3;
    }
    return true;
}

}  // namespace
}  // namespace quarnel

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quarnel;
    const std::string_view input = fuzz::AsText(data, size);
    const std::string shown = VisibleText(input);

    // Printable UTF-8 only: no C0 control, no DEL, no C1 control (the 8-bit CSI among them).
    FUZZ_CHECK(fuzz::IsValidUtf8(shown));
    FUZZ_CHECK(!fuzz::HasControlCharacter(shown));
    for (const char32_t codePoint : fuzz::CodePoints(shown)) {
        FUZZ_CHECK(codePoint < 0x80 || codePoint > 0x9F);
    }
    // Nothing lost or made up: the escapes give the input back.
    std::string text;
    FUZZ_CHECK(Unescape(shown, text));
    FUZZ_CHECK(text == input);
    // Printable UTF-8 without a backslash is shown as it is.
    if (fuzz::IsValidUtf8(input) && !fuzz::HasControlCharacter(input) &&
        input.find('\\') == std::string_view::npos) {
        bool c1 = false;
        for (const char32_t codePoint : fuzz::CodePoints(input)) {
            c1 = c1 || (codePoint >= 0x80 && codePoint <= 0x9F);
        }
        FUZZ_CHECK(c1 || shown == input);
    }
    return 0;
}
