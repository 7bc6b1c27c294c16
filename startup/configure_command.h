#pragma once

// "/configure": the settings without a window. On a terminal it asks for each setting (the
// password without echo); otherwise it reads "Name=Value" lines from standard input, so a
// password never appears on a command line. Everything is checked before anything is stored;
// then the settings are applied as the settings window applies them, so an installed service
// updates at once.

#include <cstdint>

#include "settings/apply.h"

namespace quarnel {

// Exit codes of "/configure", the Unix way.
inline constexpr std::int64_t kConfigureDone = 0;       // stored, or the store already held it
inline constexpr std::int64_t kConfigureRefused = 1;    // bad input: nothing was changed
inline constexpr std::int64_t kConfigureNotStored = 2;  // the store cannot be written, or a
                                                        // written value did not read back

// Settings and endpoint overrides that equal the stored ones change nothing (no new time stamp,
// no word to the service), so running it again from a script never causes an update. Every
// problem is printed on standard error.
std::int64_t RunConfigure(const ApplyOperations& operations);

}  // namespace quarnel
