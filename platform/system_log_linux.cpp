#include <syslog.h>

#include <mutex>
#include <string>
#include <string_view>

#include "platform/system_log.h"

namespace quarnel {

void WriteSystemLog(std::string_view identifier, SystemLogPriority priority,
                    std::string_view message) {
    // openlog keeps the identifier pointer and is process-wide: one caller at a time, and the
    // connection is closed again so that nothing outlives the text.
    static std::mutex lock;
    const std::lock_guard<std::mutex> guard(lock);
    const std::string ident(identifier);
    const std::string text(message);
    int level = LOG_INFO;
    if (priority == SystemLogPriority::Error) {
        level = LOG_ERR;
    } else if (priority == SystemLogPriority::Warning) {
        level = LOG_WARNING;
    }
    ::openlog(ident.c_str(), LOG_PID, LOG_DAEMON);
    ::syslog(level, "%s", text.c_str());
    ::closelog();
}

}  // namespace quarnel
