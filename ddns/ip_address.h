#pragma once

// Address texts. IPv4: dotted decimal, four numbers 0 to 255, no leading zeros, no blanks.
// IPv6: the canonical text form of RFC 5952 (lower-case hexadecimal groups without leading
// zeros, the longest run of two or more zero groups, the first of equal runs, written "::", and
// IPv4-mapped addresses as ::ffff: followed by the dotted IPv4 address).

#include <array>
#include <cstdint>
#include <optional>
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

// Sixteen bytes in network order.
using IPv6Bytes = std::array<std::uint8_t, 16>;

// Any text form of RFC 4291 (groups of one to four hexadecimal digits, one "::", a dotted IPv4
// address in the last 32 bits); nothing for anything else, a zone ("%eth0") included.
std::optional<IPv6Bytes> ParseIPv6Address(std::string_view text);
// The canonical text.
std::string FormatIPv6Address(const IPv6Bytes& address);
// True only for the canonical text: formatting the parsed text gives the text back. Separate from
// IsValidIPAddress, which accepts IPv4 texts only.
bool IsValidIPv6Address(std::string_view text);
// In 2000::/3, the global unicast addresses: not unique-local (fc00::/7), link-local, loopback,
// multicast, unspecified or IPv4-mapped. The documentation prefix 2001:db8::/32 counts as global.
bool IsGlobalUnicastIPv6(const IPv6Bytes& address);

}  // namespace quarnel
