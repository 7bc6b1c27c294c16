#include "platform/wide_text_win.h"

#include "platform/text.h"

namespace quarnel {

// wchar_t is a UTF-16 code unit on Windows, so the program's own converters serve (with their
// rule for invalid sequences) and no code page is involved.
std::wstring Widen(std::string_view text) {
    const std::u16string units = Utf8ToUtf16(text);
    return std::wstring(units.begin(), units.end());
}

std::string Narrow(std::wstring_view text) {
    return Utf16ToUtf8(std::u16string(text.begin(), text.end()));
}

}  // namespace quarnel
