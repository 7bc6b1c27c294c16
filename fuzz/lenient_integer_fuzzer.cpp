// The lenient number reader over arbitrary text, and numbers written in each of its forms read
// back.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "platform/lenient_integer.h"

namespace quarnel {
namespace {

std::string InBase(std::uint64_t value, unsigned base) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string digits;
    do {
        digits.insert(digits.begin(), kDigits[value % base]);
        value /= base;
    } while (value != 0);
    return digits;
}

std::uint64_t Wrapped(std::int64_t value) {
    return static_cast<std::uint64_t>(value);
}

}  // namespace
}  // namespace quarnel

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quarnel;
    const std::string_view text = fuzz::AsText(data, size);
    const std::int64_t value = ParseLenientInteger(text);
    const std::string copy(text);

    // Blanks in front change nothing; a sign in front of a text without one negates it.
    FUZZ_CHECK(ParseLenientInteger(" \t " + copy) == value);
    const bool signedText =
        !text.empty() && (text[0] == '+' || text[0] == '-' || text[0] == ' ' || text[0] == '\t');
    if (!signedText) {
        FUZZ_CHECK(ParseLenientInteger("+" + copy) == value);
        FUZZ_CHECK(Wrapped(ParseLenientInteger("-" + copy)) == 0 - Wrapped(value));
    }
    // Reading stops at the first character that does not fit: anything after it is ignored.
    FUZZ_CHECK(ParseLenientInteger(copy + "#" + copy) == value);
    // No digits of any base, no value.
    if (text.find_first_of("0123456789abcdefABCDEF") == std::string_view::npos) {
        FUZZ_CHECK(value == 0);
    }

    // The absolute value's low 32 bits.
    const std::uint64_t magnitude = value < 0 ? 0 - Wrapped(value) : Wrapped(value);
    FUZZ_CHECK(LenientAbsoluteLow32(text) ==
               static_cast<std::int32_t>(static_cast<std::uint32_t>(magnitude)));

    // Any 64-bit number written in decimal, "$" hexadecimal or "%" binary reads back.
    if (size >= 8) {
        std::uint64_t number = 0;
        for (int i = 0; i < 8; ++i) {
            number = (number << 8) | data[i];
        }
        const auto expected = static_cast<std::int64_t>(number);
        FUZZ_CHECK(ParseLenientInteger(std::to_string(expected)) == expected);
        FUZZ_CHECK(ParseLenientInteger(InBase(number, 10)) == expected);
        FUZZ_CHECK(ParseLenientInteger("$" + InBase(number, 16)) == expected);
        FUZZ_CHECK(ParseLenientInteger("%" + InBase(number, 2)) == expected);
        FUZZ_CHECK(ParseLenientInteger("-$" + InBase(number, 16)) ==
                   static_cast<std::int64_t>(0 - number));
    }
    return 0;
}
