#pragma once

// "/status": the service's state, the stored settings (never the password) and the last
// outcome, and the newest event records, printed on standard output.

#include <cstdint>

namespace quarnel {

// 1 once everything is printed.
std::int64_t RunStatus();

}  // namespace quarnel
