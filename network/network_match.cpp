#include "network/network_match.h"

#include <cstddef>

namespace quarnel {

std::int64_t FindNetworkEntry(std::string_view list, std::string_view identifier) {
    if (identifier.empty()) {
        return 0;
    }
    std::size_t start = 0;
    while (start < list.size()) {
        std::size_t end = list.find('\n', start);
        if (end == std::string_view::npos) {
            end = list.size();
        }
        // A whole entry must match: "192.168.1.1" in the list does not admit "92.168.1.1".
        if (list.substr(start, end - start) == identifier) {
            return static_cast<std::int64_t>(start) + 1;
        }
        start = end + 1;
    }
    return 0;
}

}  // namespace quarnel
