#include "platform/lenient_integer.h"

#include <cstddef>

#include "platform/text.h"

namespace quarnel {
namespace {

int DigitValue(char c, unsigned base) {
    const int value = HexDigitValue(c);
    return (value >= 0 && static_cast<unsigned>(value) < base) ? value : -1;
}

}  // namespace

std::int64_t ParseLenientInteger(std::string_view text) {
    std::size_t pos = 0;
    while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t')) {
        ++pos;
    }
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        negative = text[pos] == '-';
        ++pos;
    }
    unsigned base = 10;
    if (pos < text.size() && text[pos] == '$') {
        base = 16;
        ++pos;
    } else if (pos < text.size() && text[pos] == '%') {
        base = 2;
        ++pos;
    }
    // Unsigned arithmetic wraps by definition; the result is the two's-complement reading.
    std::uint64_t value = 0;
    for (; pos < text.size(); ++pos) {
        const int digit = DigitValue(text[pos], base);
        if (digit < 0) {
            break;
        }
        value = value * base + static_cast<std::uint64_t>(digit);
    }
    if (negative) {
        value = 0 - value;
    }
    return static_cast<std::int64_t>(value);
}

std::int32_t LenientAbsoluteLow32(std::string_view text) {
    const std::int64_t value = ParseLenientInteger(text);
    const std::uint64_t magnitude =
        value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(magnitude & 0xFFFFFFFFu));
}

}  // namespace quarnel
