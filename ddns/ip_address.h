#pragma once

// IPv4 address texts: dotted decimal, four numbers 0 to 255, no leading zeros, no blanks.

#include <cstdint>
#include <string>
#include <string_view>

namespace quarnel {

// The packed form: the lowest byte is the first number of the text (network order in memory).
// Fields are read leniently and combined in 32 bits without masking, so a field above 255
// carries into the next byte; a text without exactly three dots gives 0.
std::uint32_t ParseIPAddress(std::string_view text);
// "%d.%d.%d.%d" of the four bytes from the lowest up.
std::string FormatIPAddress(std::uint32_t packed);
// True only for the canonical form: formatting the parsed text gives the text back.
bool IsValidIPAddress(std::string_view text);

}  // namespace quarnel
