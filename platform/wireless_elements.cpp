#include "platform/wireless_elements.h"

namespace quarnel {

std::string SsidFromInformationElements(const std::uint8_t* data, std::size_t size) {
    std::size_t at = 0;
    while (data != nullptr && at + 2 <= size) {
        const std::uint8_t id = data[at];
        const std::size_t length = data[at + 1];
        if (at + 2 + length > size) {
            break;
        }
        if (id == 0) {
            const std::size_t kept = length < kMaximumSsidLength ? length : kMaximumSsidLength;
            return std::string(reinterpret_cast<const char*>(data + at + 2), kept);
        }
        at += 2 + length;
    }
    return {};
}

}  // namespace quarnel
