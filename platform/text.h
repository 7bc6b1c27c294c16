#pragma once

// Text helpers. Inside the program text is UTF-8 in std::string; UTF-16LE appears only where
// bytes must match what the original stores or hashes (registry values, cipher input, digests,
// event records).

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quarnel {

// UTF-8 to UTF-16 code units. Invalid sequences become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);
// UTF-16 code units to UTF-8. Unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);

// The UTF-16LE bytes of a text, without terminator.
std::vector<std::uint8_t> Utf8ToUtf16LeBytes(std::string_view text);
// Decodes UTF-16LE bytes (an odd trailing byte is ignored), stopping at the first zero code
// unit when stopAtNul is set.
std::string Utf16LeBytesToUtf8(const std::uint8_t* data, std::size_t size, bool stopAtNul);

// Lower-cases ASCII letters only; other bytes stay as they are.
std::string ToLowerAscii(std::string_view text);
// Upper-cases ASCII letters only.
std::string ToUpperAscii(std::string_view text);

// Lower-case hexadecimal text of bytes ("00ff...").
std::string HexLower(const std::uint8_t* data, std::size_t size);
// The value of one hexadecimal digit in either letter case; -1 for any other character.
int HexDigitValue(char c);

// Splits at every occurrence of separator; n separators give n + 1 pieces.
std::vector<std::string> SplitText(std::string_view text, char separator);

}  // namespace quarnel
