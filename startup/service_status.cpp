#include "startup/service_status.h"

#include "diagnostics/log.h"

namespace quarnel {

std::string QueryServiceState(const std::string& name) {
    (void)name;
    QLOG(kLogWarn, "QueryServiceState", "The control socket client is not available yet");
    return "unknown (not available in this build yet)";
}

std::vector<std::string> NewestServiceEvents(const std::string& name, std::size_t count) {
    (void)name;
    (void)count;
    QLOG(kLogWarn, "NewestServiceEvents", "The event log reader is not available yet");
    return {"(the event log reader is not available in this build yet)"};
}

}  // namespace quarnel
