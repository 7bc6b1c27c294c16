#include "platform/registry_value_file.h"

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <string_view>
#include <system_error>

namespace quarnel::registry_store {
namespace {

constexpr std::string_view kHeaderTag = "REGVALUE ";

// A number of decimal digits only that fits in 64 bits.
bool ReadDecimal(std::string_view text, std::uint64_t& number) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos) {
        return false;
    }
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, number);
    return error == std::errc() && stop == end;
}

}  // namespace

std::string ValueFileHeader(const RegistryValue& value) {
    return std::string(kHeaderTag) + std::to_string(value.type) + " " +
           std::to_string(value.data.size()) + "\n";
}

bool ParseValueFile(const std::vector<std::uint8_t>& bytes, RegistryValue& value) {
    const auto newline = std::find(bytes.begin(), bytes.end(), '\n');
    if (newline == bytes.end()) {
        return false;
    }
    const std::string_view header(reinterpret_cast<const char*>(bytes.data()),
                                  static_cast<std::size_t>(newline - bytes.begin()));
    if (header.substr(0, kHeaderTag.size()) != kHeaderTag) {
        return false;
    }
    // Exactly the two numbers the store writes, one blank between them: a sign, other blanks or
    // anything after them (a zero byte included) make the header one the store never wrote.
    const std::string_view numbers = header.substr(kHeaderTag.size());
    const std::size_t blank = numbers.find(' ');
    std::uint64_t type = 0;
    std::uint64_t size = 0;
    if (blank == std::string_view::npos || !ReadDecimal(numbers.substr(0, blank), type) ||
        !ReadDecimal(numbers.substr(blank + 1), size) || type > 0xFFFFFFFFu) {
        return false;
    }
    const auto dataStart = static_cast<std::size_t>(newline - bytes.begin()) + 1;
    if (bytes.size() - dataStart != size) {
        return false;
    }
    value.type = static_cast<std::uint32_t>(type);
    value.data.assign(bytes.begin() + static_cast<std::ptrdiff_t>(dataStart), bytes.end());
    return true;
}

}  // namespace quarnel::registry_store
