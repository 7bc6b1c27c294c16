#include "ddns/ip_address.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <iterator>
#include <vector>

#include "platform/lenient_integer.h"
#include "platform/text.h"

namespace quarnel {
namespace {

bool HasThreeDots(std::string_view text) {
    return std::count(text.begin(), text.end(), '.') == 3;
}

}  // namespace

std::uint32_t ParseIPAddress(std::string_view text) {
    if (text.empty() || !HasThreeDots(text)) {
        return 0;
    }
    std::uint32_t fields[4];
    std::size_t start = 0;
    for (int i = 0; i < 4; ++i) {
        const std::size_t end = i < 3 ? text.find('.', start) : text.size();
        fields[i] =
            static_cast<std::uint32_t>(ParseLenientInteger(text.substr(start, end - start)));
        start = end + 1;
    }
    // Unsigned 32-bit arithmetic: carries move up, a carry out of the top byte is lost.
    return ((fields[3] * 256u + fields[2]) * 256u + fields[1]) * 256u + fields[0];
}

std::string FormatIPAddress(std::uint32_t packed) {
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", packed & 0xFF, (packed >> 8) & 0xFF,
                  (packed >> 16) & 0xFF, packed >> 24);
    return text;
}

bool IsValidIPAddress(std::string_view text) {
    return HasThreeDots(text) && FormatIPAddress(ParseIPAddress(text)) == text;
}

namespace {

// The groups of one side of "::" (or of the whole text), each as two bytes; a dotted IPv4
// address is taken only as the very last piece of the address (lastPiece).
bool ParseGroups(std::string_view text, bool lastPiece, std::vector<std::uint8_t>& bytes) {
    if (text.empty()) {
        return true;
    }
    std::size_t start = 0;
    while (true) {
        const std::size_t colon = text.find(':', start);
        const std::string_view group =
            text.substr(start, colon == std::string_view::npos ? colon : colon - start);
        if (colon == std::string_view::npos && lastPiece &&
            group.find('.') != std::string_view::npos) {
            if (!IsValidIPAddress(group)) {
                return false;
            }
            const std::uint32_t packed = ParseIPAddress(group);
            for (int i = 0; i < 4; ++i) {
                bytes.push_back(static_cast<std::uint8_t>(packed >> (8 * i)));
            }
            return true;
        }
        if (group.empty() || group.size() > 4) {
            return false;
        }
        unsigned value = 0;
        for (const char c : group) {
            const int digit = HexDigitValue(c);
            if (digit < 0) {
                return false;
            }
            value = value * 16 + static_cast<unsigned>(digit);
        }
        bytes.push_back(static_cast<std::uint8_t>(value >> 8));
        bytes.push_back(static_cast<std::uint8_t>(value));
        if (colon == std::string_view::npos) {
            return true;
        }
        start = colon + 1;
    }
}

}  // namespace

std::optional<IPv6Bytes> ParseIPv6Address(std::string_view text) {
    // The longest text form: eight groups of four digits, or six and a dotted address.
    if (text.size() < 2 || text.size() > 45) {
        return std::nullopt;
    }
    const std::size_t gap = text.find("::");
    std::vector<std::uint8_t> head;
    std::vector<std::uint8_t> tail;
    if (gap == std::string_view::npos) {
        if (!ParseGroups(text, true, head) || head.size() != 16) {
            return std::nullopt;
        }
    } else {
        const std::string_view before = text.substr(0, gap);
        const std::string_view after = text.substr(gap + 2);
        // One "::" only, and no third colon next to it.
        if (after.find("::") != std::string_view::npos || after.starts_with(':') ||
            before.ends_with(':') || !ParseGroups(before, false, head) ||
            !ParseGroups(after, true, tail) || head.size() + tail.size() > 14) {
            return std::nullopt;
        }
    }
    IPv6Bytes address{};
    std::copy(head.begin(), head.end(), address.begin());
    std::copy(tail.begin(), tail.end(), address.end() - static_cast<std::ptrdiff_t>(tail.size()));
    return address;
}

std::string FormatIPv6Address(const IPv6Bytes& address) {
    static constexpr std::uint8_t kMappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
    if (std::equal(std::begin(kMappedPrefix), std::end(kMappedPrefix), address.begin())) {
        return "::ffff:" + FormatIPAddress(static_cast<std::uint32_t>(address[12]) |
                                           static_cast<std::uint32_t>(address[13]) << 8 |
                                           static_cast<std::uint32_t>(address[14]) << 16 |
                                           static_cast<std::uint32_t>(address[15]) << 24);
    }
    unsigned groups[8];
    for (int i = 0; i < 8; ++i) {
        groups[i] = static_cast<unsigned>(address[2 * i]) << 8 | address[2 * i + 1];
    }
    // The longest run of at least two zero groups; the first of equal runs.
    int runStart = -1;
    int runLength = 1;
    for (int i = 0; i < 8;) {
        int j = i;
        while (j < 8 && groups[j] == 0) {
            ++j;
        }
        if (j - i > runLength) {
            runStart = i;
            runLength = j - i;
        }
        i = j == i ? i + 1 : j;
    }
    std::string text;
    for (int i = 0; i < 8; ++i) {
        if (i == runStart) {
            text += "::";
            i += runLength - 1;
            continue;
        }
        if (!text.empty() && text.back() != ':') {
            text += ':';
        }
        char group[5];
        std::snprintf(group, sizeof group, "%x", groups[i]);
        text += group;
    }
    return text;
}

bool IsValidIPv6Address(std::string_view text) {
    const std::optional<IPv6Bytes> address = ParseIPv6Address(text);
    return address && FormatIPv6Address(*address) == text;
}

bool IsGlobalUnicastIPv6(const IPv6Bytes& address) {
    return (address[0] & 0xE0) == 0x20;
}

}  // namespace quarnel
