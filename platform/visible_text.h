#pragma once

// Texts from the store, the event log, providers and users, made safe to print on a terminal.

#include <string>
#include <string_view>

namespace quarnel {

// The text with every control character (C0, DEL and the C1 range U+0080 to U+009F) and every
// byte that is not part of valid UTF-8 written as \xNN for each of its bytes, and a backslash
// doubled, so no escape sequence from a server reaches the terminal and the result shows exactly
// what was stored. Printable UTF-8 stays as it is.
std::string VisibleText(std::string_view text);

}  // namespace quarnel
