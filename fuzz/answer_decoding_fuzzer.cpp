// HTTP answer bodies decoded as UTF-8, UTF-16LE and Windows-1252: whatever the bytes, the result
// is valid text that keeps what can be kept.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ddns/answer_text.h"
#include "fuzz/fuzz_support.h"
#include "platform/text.h"

namespace quarnel {
namespace {

void CheckUtf8(const std::vector<std::uint8_t>& bytes, std::string_view raw) {
    const std::string text = DecodeUtf8Answer(bytes);
    FUZZ_CHECK(fuzz::IsValidUtf8(text));
    // Valid input passes unchanged; anything else is changed (and marked by U+FFFD).
    FUZZ_CHECK((text == raw) == fuzz::IsValidUtf8(raw));
    if (text != raw) {
        FUZZ_CHECK(text.find("\xEF\xBF\xBD") != std::string::npos);
    }
}

void CheckUtf16(const std::vector<std::uint8_t>& bytes) {
    const std::string text = DecodeUtf16Answer(bytes);
    FUZZ_CHECK(fuzz::IsValidUtf8(text));
    FUZZ_CHECK(text.find('\0') == std::string::npos);
    // One code unit out for every unit in up to the first zero unit (a lone surrogate becomes
    // U+FFFD, also one unit).
    std::size_t units = 0;
    while (2 * units + 1 < bytes.size() && (bytes[2 * units] != 0 || bytes[2 * units + 1] != 0)) {
        ++units;
    }
    FUZZ_CHECK(Utf8ToUtf16(text).size() == units);
}

void CheckWindows1252(const std::vector<std::uint8_t>& bytes) {
    const std::string text = DecodeWindows1252Answer(bytes);
    FUZZ_CHECK(fuzz::IsValidUtf8(text));
    const std::vector<char32_t> points = fuzz::CodePoints(text);
    FUZZ_CHECK(points.size() == bytes.size());
    for (std::size_t i = 0; i < points.size() && i < bytes.size(); ++i) {
        const std::uint8_t byte = bytes[i];
        const bool unassigned =
            byte == 0x81 || byte == 0x8D || byte == 0x8F || byte == 0x90 || byte == 0x9D;
        if (byte < 0x80 || byte >= 0xA0 || unassigned) {
            FUZZ_CHECK(points[i] == byte);  // ASCII and Latin-1 are themselves
        } else {
            FUZZ_CHECK(points[i] > 0xFF);  // the printable characters of 0x80 to 0x9F
        }
    }
}

}  // namespace
}  // namespace quarnel

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quarnel;
    const std::vector<std::uint8_t> bytes(data, data + size);
    CheckUtf8(bytes, fuzz::AsText(data, size));
    CheckUtf16(bytes);
    CheckWindows1252(bytes);
    return 0;
}
