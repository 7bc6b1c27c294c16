#pragma once

// Files compiled into the program, found by name and type as resources are:
//   type "PNG":  the 16 x 16 status pictures "accept", "add", "error", "exclamation",
//                "information";
//   type "ICON": the application icon, one PNG per size, named "quarnel-updater-<size>" for the
//                sizes in kApplicationIconSizes.
// Names and types match regardless of ASCII case. Every image is an 8-bit RGBA PNG.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace quarnel {

inline constexpr std::string_view kResourceTypePng = "PNG";
inline constexpr std::string_view kResourceTypeIcon = "ICON";
inline constexpr int kApplicationIconSizes[] = {256, 128, 48, 32, 24, 16};

// A read-only pointer to the raw bytes of a resource, or null when there is none of that name
// and type. PNG data carries its own length; use GetResourceBytes where the size is needed.
const std::uint8_t* GetResourceData(std::string_view name, std::string_view type);

// The raw bytes of a resource with their count; empty when there is none.
std::span<const std::uint8_t> GetResourceBytes(std::string_view name, std::string_view type);

// The resource name of the application icon in one size ("quarnel-updater-48").
std::string ApplicationIconName(int size);

}  // namespace quarnel
