#pragma once

// A port number as URLs and resolver lists write it.

#include <cstdint>
#include <optional>
#include <string_view>

namespace quarnel {

// 1 to 5 decimal digits naming 1 to 65535; nothing for any other text (signs, blanks included).
std::optional<std::uint16_t> ReadPortText(std::string_view text);

}  // namespace quarnel
