#include "resources/resource_data.h"

#include "platform/text.h"

// The tables are generated at build time from the PNG files (see resources/CMakeLists.txt); the
// generator lower-cases the names.
namespace quarnel::embedded {
struct Entry {
    const char* name;
    const std::uint8_t* data;
    std::size_t size;
};
extern const Entry kPngResources[];
extern const std::size_t kPngResourcesCount;
extern const Entry kIconResources[];
extern const std::size_t kIconResourcesCount;
}  // namespace quarnel::embedded

namespace quarnel {
namespace {

std::span<const embedded::Entry> TableOfType(std::string_view type) {
    const std::string lowerType = ToLowerAscii(type);
    if (lowerType == "png") {
        return {embedded::kPngResources, embedded::kPngResourcesCount};
    }
    if (lowerType == "icon") {
        return {embedded::kIconResources, embedded::kIconResourcesCount};
    }
    return {};
}

}  // namespace

std::span<const std::uint8_t> GetResourceBytes(std::string_view name, std::string_view type) {
    const std::string lowerName = ToLowerAscii(name);
    for (const embedded::Entry& entry : TableOfType(type)) {
        if (lowerName == entry.name) {
            return {entry.data, entry.size};
        }
    }
    return {};
}

const std::uint8_t* GetResourceData(std::string_view name, std::string_view type) {
    const std::span<const std::uint8_t> bytes = GetResourceBytes(name, type);
    return bytes.empty() ? nullptr : bytes.data();
}

std::string ApplicationIconName(int size) {
    return "quarnel-updater-" + std::to_string(size);
}

}  // namespace quarnel
