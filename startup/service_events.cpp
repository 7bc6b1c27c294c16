#include <cstddef>
#include <string>
#include <vector>

#include "diagnostics/event_log.h"
#include "startup/service_status.h"

namespace quarnel {

std::vector<std::string> NewestServiceEvents(const std::string& name, std::size_t count) {
    std::vector<std::string> lines;
    for (const HistoryEntry& entry : ReadEventLogHistory("Application", name)) {
        if (lines.size() == count) {
            break;
        }
        lines.push_back(entry.line);
    }
    return lines;
}

}  // namespace quarnel
