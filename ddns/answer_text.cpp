#include "ddns/answer_text.h"

#include <cstddef>
#include <string_view>

#include "platform/text.h"

namespace quarnel {
namespace {

// Code points of the bytes 0x80 to 0x9F in Windows-1252; the five unassigned bytes keep their
// own value, as the system's conversion does.
constexpr char16_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

}  // namespace

std::string DecodeUtf8Answer(const std::vector<std::uint8_t>& bytes) {
    const std::string_view raw(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return Utf16ToUtf8(Utf8ToUtf16(raw));
}

std::string DecodeUtf16Answer(const std::vector<std::uint8_t>& bytes) {
    return Utf16LeBytesToUtf8(bytes.data(), bytes.size() & ~std::size_t{1}, true);
}

std::string DecodeWindows1252Answer(const std::vector<std::uint8_t>& bytes) {
    std::u16string units;
    units.reserve(bytes.size());
    for (const std::uint8_t byte : bytes) {
        units.push_back(byte >= 0x80 && byte <= 0x9F ? kHighControls[byte - 0x80]
                                                     : static_cast<char16_t>(byte));
    }
    return Utf16ToUtf8(units);
}

}  // namespace quarnel
