#pragma once

// Turning an HTTP answer's bytes into the program's text (UTF-8).

#include <cstdint>
#include <string>
#include <vector>

namespace quarnel {

// UTF-8 bytes; invalid sequences become U+FFFD so that stored and logged text stays valid.
std::string DecodeUtf8Answer(const std::vector<std::uint8_t>& bytes);
// UTF-16LE code units (size / 2 of them), stopping at the first zero unit.
std::string DecodeUtf16Answer(const std::vector<std::uint8_t>& bytes);
// Windows-1252, the ANSI code page of the English and German systems the program was made for.
std::string DecodeWindows1252Answer(const std::vector<std::uint8_t>& bytes);

}  // namespace quarnel
