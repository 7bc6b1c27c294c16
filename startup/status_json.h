#pragma once

// "/status --json": the status report as one JSON document. Its members are documented in the
// README ("Monitoring and automation") and in the usage text; they are only ever added to,
// never renamed or given another meaning. A value that cannot be known is null, with a member
// of the same name and "Reason" after it that says why.

#include <string>

#include "startup/status_report.h"

namespace quarnel {

std::string StatusJson(const StatusReport& report);

}  // namespace quarnel
