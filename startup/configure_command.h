#pragma once

// "/configure": the settings without a window. On a terminal it asks for each setting (the
// password without echo); otherwise it reads "Name=Value" lines from standard input, so a
// password never appears on a command line. Everything is checked before anything is stored;
// then the settings are applied as the settings window applies them, so an installed service
// updates at once.

#include <cstdint>

#include "settings/apply.h"

namespace quarnel {

// 1 when the settings were stored, 0 (with a message on standard error) when the input was bad
// or the store could not be written; nothing is stored then.
std::int64_t RunConfigure(const ApplyOperations& operations);

}  // namespace quarnel
