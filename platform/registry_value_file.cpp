#include "platform/registry_value_file.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

namespace quarnel::registry_store {
namespace {

constexpr std::string_view kHeaderTag = "REGVALUE ";

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
    const std::string header(bytes.begin(), newline);
    if (header.compare(0, kHeaderTag.size(), kHeaderTag) != 0) {
        return false;
    }
    unsigned long long type = 0;
    unsigned long long size = 0;
    char extra = 0;
    if (std::sscanf(header.c_str() + kHeaderTag.size(), "%llu %llu%c", &type, &size, &extra) != 2 ||
        type > 0xFFFFFFFFull) {
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
