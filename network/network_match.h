#pragma once

// Finding a network identifier in a stored list (one text, every entry followed by a line
// feed).

#include <cstdint>
#include <string_view>

namespace quarnel {

// The 1-based position in list of the first entry that equals identifier exactly (whole
// entry, letter case counts), or 0. An empty identifier matches nothing.
std::int64_t FindNetworkEntry(std::string_view list, std::string_view identifier);

}  // namespace quarnel
