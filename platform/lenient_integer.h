#pragma once

#include <cstdint>
#include <string_view>

namespace quarnel {

// Reads a whole number the forgiving way the program reads every number it is given as text
// (environment values, address fields): blanks and tabs at the start are skipped, an optional
// "+" or "-" follows, then "$" introduces hexadecimal digits, "%" binary digits, and otherwise
// decimal digits are read. Reading stops at the first character that does not fit; a text
// without digits gives 0. The value wraps around in 64 bits instead of overflowing, so any
// input has a defined result.
std::int64_t ParseLenientInteger(std::string_view text);

// The start-up reading of LOGLEVEL and LOGPORT: absolute value, low 32 bits as a signed number.
std::int32_t LenientAbsoluteLow32(std::string_view text);

}  // namespace quarnel
