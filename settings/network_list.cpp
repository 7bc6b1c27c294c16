#include "settings/network_list.h"

#include "platform/text.h"

namespace quarnel {

std::string NetworkListText(const std::vector<std::string>& entries) {
    std::string text;
    for (const std::string& entry : entries) {
        if (!entry.empty()) {
            text += entry;
            text += '\n';
        }
    }
    return text;
}

std::string NetworkListFromStored(std::string_view stored) {
    return NetworkListText(SplitText(stored, '\n'));
}

}  // namespace quarnel
