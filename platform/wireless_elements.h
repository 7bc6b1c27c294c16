#pragma once

// Reading the SSID out of the information elements a station received from its access point.

#include <cstddef>
#include <cstdint>
#include <string>

namespace quarnel {

// The longest SSID the standard allows.
inline constexpr std::size_t kMaximumSsidLength = 32;

// The SSID element (id 0) of a list of information elements (id, length, bytes); empty when
// there is none or the list is cut short before it. An SSID longer than 32 bytes is cut to 32.
std::string SsidFromInformationElements(const std::uint8_t* data, std::size_t size);

}  // namespace quarnel
