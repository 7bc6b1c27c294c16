#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace quarnel {

// A GUID in its usual field layout.
struct Guid {
    std::uint32_t data1 = 0;
    std::uint16_t data2 = 0;
    std::uint16_t data3 = 0;
    std::array<std::uint8_t, 8> data4{};
};

// Braced, upper-case text form, 38 characters: {B7D5E900-AF40-11DD-AD8B-0800200C9A66}.
std::string GuidToString(const Guid& guid);
// Reads the braced (or bare) text form in either letter case; false when it is not one.
bool GuidFromString(std::string_view text, Guid& guid);

}  // namespace quarnel
