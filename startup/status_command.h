#pragma once

// "/status": the service's state, the stored settings (never the password), the endpoint
// overrides in effect, the last update attempt with its time, what it means and what to do
// next, the last request the provider answered, and the newest event records, printed on
// standard output. Every stored or received text is printed with its
// control characters made visible.

#include <cstdint>

namespace quarnel {

enum class StatusForm {
    Text,   // "/status"
    Json,   // "/status --json" (status_json.h)
    Check,  // "/status --check" (status_check.h)
};

// The text and the JSON document: 0 once everything is printed; 1 (with a message on standard
// error) when standard output could not be written. The check: its verdict (0, 1 or 2), also
// when its line cannot be printed.
std::int64_t RunStatus(StatusForm form);

}  // namespace quarnel
