#pragma once

// The system log (syslog, and through it the journal).

#include <string_view>

namespace quarnel {

enum class SystemLogPriority { Error, Warning, Information };

// Sends one message under the given identifier (journalctl -t <identifier> shows it). Nothing is
// reported back: a system without a log daemon drops it.
void WriteSystemLog(std::string_view identifier, SystemLogPriority priority,
                    std::string_view message);

}  // namespace quarnel
