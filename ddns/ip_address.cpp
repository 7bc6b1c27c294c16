#include "ddns/ip_address.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>

#include "platform/lenient_integer.h"

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

}  // namespace quarnel
