#pragma once

// Texts from the store, the event log, providers and users, made safe to print on a terminal.

#include <cstddef>
#include <string>
#include <string_view>

namespace quarnel {

// The text with every control character (C0, DEL and the C1 range U+0080 to U+009F) and every
// byte that is not part of valid UTF-8 written as \xNN for each of its bytes, and a backslash
// doubled, so no escape sequence from a server reaches the terminal and the result shows exactly
// what was stored. Printable UTF-8 stays as it is.
std::string VisibleText(std::string_view text);

// The length of the valid UTF-8 sequence at the start of text (shortest form, no surrogates, at
// most U+10FFFF) and its code point; 0 when it is not one (or text is empty).
std::size_t Utf8Sequence(std::string_view text, char32_t& codePoint);

}  // namespace quarnel
